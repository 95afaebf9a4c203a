// The collections a Message hands out, and their items: address lists of
// Recipient, extra header lines (Header) and attached files (Attachment).
#pragma once

#include <quillpost/detail/keyed_list.hpp>
#include <quillpost/variant.hpp>

#include <cstdint>
#include <memory>
#include <string>

namespace quillpost {

// What the three collections share: 1-based positions, removal, clearing,
// counting, lookup and walking in position order. Each adds its own Add.
template <class T>
class Collection : public Dispatch {
public:
    void Remove(const Variant& vIndex) { list_.Remove(vIndex); }
    // Replaces the list by a new, empty one; items a caller still holds stay
    // valid but no longer belong to the collection.
    void Clear() { list_ = KeyedList<T>{}; }
    std::int32_t Count() const noexcept { return list_.Count(); }
    // A number selects by position; a text selects by key.
    std::shared_ptr<T> Item(const Variant& vIndex) const { return list_.Item(vIndex); }
    std::shared_ptr<Enumerator> NewEnum() const { return list_.NewEnum(); }

    auto begin() const noexcept { return list_.begin(); }
    auto end() const noexcept { return list_.end(); }

protected:
    KeyedList<T> list_;
};

// One mail address with an optional display name. Its default member is
// Address.
class Recipient : public Dispatch {
public:
    const std::string& Name() const noexcept { return name_; }
    void Name(std::string value) { name_ = std::move(value); }
    const std::string& Address() const noexcept { return address_; }
    void Address(std::string value) { address_ = std::move(value); }

    Variant DefaultValue() override { return address_; }

private:
    std::string name_;
    std::string address_;
};

// One address list. Items carry no keys: a text index never matches.
class Recipients : public Collection<Recipient> {
public:
    // Appends a Recipient. A blank address (empty text or the empty value)
    // raises 9995 "Recipient address can not be blank".
    void Add(const Variant& vAddress, const Variant& vName = Variant::missing());
};

// One header line: name and value. Its default member is Name.
class Header : public Dispatch {
public:
    const std::string& Name() const noexcept { return name_; }
    void Name(std::string value) { name_ = std::move(value); }
    const std::string& Value() const noexcept { return value_; }
    void Value(std::string value) { value_ = std::move(value); }

    // Splits a header line at its first ": " into Name and Value and returns
    // true; without that separator Value takes the whole line, Name stays,
    // and the result is false. Nothing is trimmed.
    bool Parse(const Variant& vData);

    Variant DefaultValue() override { return name_; }

private:
    std::string name_;
    std::string value_;
};

// Extra header lines, keyed by their name (without regard to letter case):
// Item and Remove with a text find a header by the name it had when it was
// added.
class Headers : public Collection<Header> {
public:
    // Appends a Header. A blank name raises 9997, a blank value 9996, a name
    // present already (in any letter case) 457.
    void Add(const Variant& Name, const Variant& Value);
};

// One attached file, by name. Its default member is FileName.
class Attachment : public Dispatch {
public:
    const std::string& FileName() const noexcept { return fileName_; }
    void FileName(std::string value) { fileName_ = std::move(value); }

    Variant DefaultValue() override { return fileName_; }

private:
    std::string fileName_;
};

// Files to attach. Add opens the file once to make sure it can be read.
class Attachments : public Collection<Attachment> {
public:
    // Appends an Attachment. A blank name raises 9994; a file that cannot be
    // opened for reading raises the file error (53, 76, 70 or 75).
    void Add(const Variant& vFileName);
};

}  // namespace quillpost
