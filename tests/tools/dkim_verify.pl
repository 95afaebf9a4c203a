#!/usr/bin/perl
# Verifies the DKIM signatures of one message with Mail::DKIM, the public key
# record given on the command line in place of DNS. Prints the verifier's
# result ("pass", "fail (...)", ...) and exits 0 only for "pass".
#
# Usage: perl dkim_verify.pl MESSAGE-FILE "v=DKIM1; k=...; p=..."
use strict;
use warnings;
use Mail::DKIM::Verifier;
use Net::DNS::RR;

my ($file, $record) = @ARGV;
die "usage: $0 MESSAGE-FILE RECORD\n" unless defined $record;

# A TXT record holds strings of at most 255 octets each.
my @strings = unpack('(A255)*', $record);
{
    no warnings 'redefine';
    *Mail::DKIM::DNS::query = sub {
        my ($name, $type) = @_;
        return () unless uc $type eq 'TXT';
        $@ = 'NOERROR';
        return Net::DNS::RR->new(name => $name, type => 'TXT', txtdata => [@strings]);
    };
}

open(my $in, '<:raw', $file) or die "$file: $!\n";
my $dkim = Mail::DKIM::Verifier->new();
while (read($in, my $block, 1 << 20)) {
    $dkim->PRINT($block);
}
close $in;
$dkim->CLOSE();
my $result = $dkim->result_detail;
print "$result\n";
exit($dkim->result eq 'pass' ? 0 : 1);
