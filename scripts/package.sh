#!/bin/bash
# Builds the Debian package build/quillpost_<version>_<arch>.deb from this
# tree: configures a build of the shipped pieces only for the prefix /usr
# (build/package/, with Debian's build flags), installs it into a staging
# folder, strips it, adds the manual page, the link qpmail-sendmail, the
# package's documentation and its maintainer scripts, and packs it with
# dpkg-deb. One line per step; the tools' output goes to $QUILLPOST_LOG.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLPOST_BUILD_DIR:-$root/build}"
mkdir -p "$build"
export QUILLPOST_LOG="${QUILLPOST_LOG:-$build/package.log}"
source "$root/scripts/steps.sh"
"$root/scripts/install-deps.sh" dpkg-dev binutils cmake g++ make pkgconf libssl-dev python3 \
  libcurl4-openssl-dev nlohmann-json3-dev libidn2-dev

tree="$build/package"
stage="$build/package-root"
version="$(sed -n 's/^project(quillpost VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
arch="$(dpkg --print-architecture)"
deb="$build/quillpost_${version}_${arch}.deb"

# Debian's hardening and optimisation flags, as a Debian build would pass them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"
qp_step "configuring the package build" cmake -S "$root" -B "$tree" \
  -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" \
  -DQUILLPOST_BUILD_TESTS=OFF -DQUILLPOST_BUILD_BENCH=OFF
shipped=(qpmailer qpcom qpmailer_server qpmail qpregsvr uninstQuillpost)
targets=()
for target in "${shipped[@]}"; do targets+=(--target "$target"); done
qp_build_step "building the shipped pieces" cmake --build "$tree" -j"$(nproc)" "${targets[@]}"

# Whether a file is an ELF object (a program or a library).
is_elf() { [ "$(head -c 4 "$1" | od -An -c | tr -d ' \n')" = '177ELF' ]; }

qp_begin "staging"
rm -rf "$stage"
{
  DESTDIR="$stage" cmake --install "$tree"
  libdir="$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$tree/CMakeCache.txt")"
  # Debian keeps no debugging symbols in the package itself.
  find "$stage" -type f \( -name '*.so*' -o -path '*/bin/*' \) -print0 |
    while IFS= read -r -d '' file; do
      if is_elf "$file"; then
        strip --strip-unneeded --remove-section=.comment --remove-section=.note "$file"
      fi
    done
  gzip -9n "$stage/usr/share/man/man1/qpmail.1" "$stage/usr/share/man/man1/qpregsvr.1"
  # The sendmail-compatible mode answers to any name ending in "sendmail";
  # the system's own /usr/sbin/sendmail is left to the mail system.
  install -d "$stage/usr/sbin"
  ln -s ../bin/qpmail "$stage/usr/sbin/qpmail-sendmail"
  install -d "$stage/usr/share/man/man8"
  ln -s ../man1/qpmail.1.gz "$stage/usr/share/man/man8/qpmail-sendmail.8.gz"
  doc="$stage/usr/share/doc/quillpost"
  install -d "$doc"
  install -m 0644 "$root/packaging/deb/copyright" "$doc/copyright"
  gzip -9n -c "$root/packaging/deb/changelog" > "$doc/changelog.gz"
  chmod 0644 "$doc/changelog.gz"

  control="$stage/DEBIAN"
  install -d "$control"
  for script in postinst prerm postrm; do
    sed "s|@LIBDIR@|/usr/$libdir|g" "$root/packaging/deb/$script" > "$control/$script"
    chmod 0755 "$control/$script"
  done
  install -m 0644 "$root/packaging/deb/triggers" "$control/triggers"
  printf 'libqpmailer %s quillpost (>= %s)\n' "${version%%.*}" "$version" > "$control/shlibs"
  chmod 0644 "$control/shlibs"

  # What the programs and libraries need of other packages, as Debian's own
  # tool reads it from their dynamic sections.
  shlibs_dir="$build/package-shlibs"
  rm -rf "$shlibs_dir"
  mkdir -p "$shlibs_dir/debian"
  printf 'Source: quillpost\n\nPackage: quillpost\nArchitecture: any\n' > "$shlibs_dir/debian/control"
  cp "$control/shlibs" "$shlibs_dir/debian/shlibs.local"
  printf 'qpcom 0 quillpost\nqpmailer_server 0 quillpost\n' >> "$shlibs_dir/debian/shlibs.local"
  elves=()
  while IFS= read -r -d '' file; do
    is_elf "$file" && elves+=("$file")
  done < <(find "$stage/usr" -type f -print0)
  depends="$(cd "$shlibs_dir" && dpkg-shlibdeps -O -xquillpost -l"$stage/usr/$libdir" "${elves[@]}" |
    sed -n 's/^shlibs:Depends=//p')"
  rm -rf "$shlibs_dir"
  size="$(du -sk --exclude=DEBIAN "$stage" | cut -f1)"
  sed -e "s|@VERSION@|$version|" -e "s|@ARCH@|$arch|" -e "s|@SIZE@|$size|" -e "s|@DEPENDS@|$depends|" \
    "$root/packaging/deb/control.in" > "$control/control"
  (cd "$stage" && find usr -type f -print0 | sort -z | xargs -0 md5sum) > "$control/md5sums"
  chmod 0644 "$control/control" "$control/md5sums"
} >>"$QUILLPOST_LOG" 2>&1 || qp_failed
qp_done

qp_step "packing $(basename "$deb")" dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb"
echo "quillpost: package: $deb"
