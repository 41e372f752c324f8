#!/usr/bin/env bash
# Writes the fuzz targets' seed files into header/, coefficients/ and
# number/ beside this script; README.md says what each one is. The seeds are
# kept in the tree, so this only needs running to change them.
set -euo pipefail
cd "$(dirname "$0")"
rm -rf header coefficients number
mkdir header coefficients number

# Little-endian fields as printf escapes.
u16() { printf '\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)); }
u32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) \
    $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }

# A 44-byte header: format chunk size, tag, channel field, rate, bits,
# data chunk id, data size; block align and byte rate follow from them.
header() {
    local chunk=$1 tag=$2 channels=$3 rate=$4 bits=$5 id=$6 size=$7
    local align=$(((channels & 255) * bits / 8))
    printf "RIFF$(u32 $((size + 36)))WAVEfmt $(u32 "$chunk")$(u16 "$tag")$(u16 "$channels")"
    printf "$(u32 "$rate")$(u32 $((rate * align)))$(u16 "$align")$(u16 "$bits")%s$(u32 "$size")" "$id"
}

h=header
header 16 1 2 96000 24 data 600 >$h/canonical
{ header 16 1 2 96000 24 data 12; printf '\x01\x02\x03\xfd\xfe\xff\x00\x00\x80\xff\xff\x7f'; } \
    >$h/canonical-two-frames
head -c 43 $h/canonical >$h/cut-at-43
head -c 23 $h/canonical >$h/cut-in-channels
head -c 10 $h/canonical >$h/cut-in-form-type
: >$h/empty
header 40 65534 2 96000 24 data 600 >$h/extensible
header 16 1 1 44100 16 data 600 >$h/mono-16-bit-44k
header 16 1 2 96000 24 LIST 600 >$h/list-chunk-first
header 16 1 258 96000 24 data 600 >$h/channels-high-byte-set
header 16 1 2 96000 24 data 2147483647 >$h/largest-data-size
header 16 1 2 96000 24 data 2147483648 >$h/data-size-2-to-31
header 16 1 2 96000 24 data 9 >$h/data-size-half-frame

c=coefficients
cp ../../examples/coefficients/FO.dat $c/example-fo
printf '0.5,0.25,-0.125\r\n1E-3,2D-2\r\n' >$c/commas
printf '"0.5","-1E-3"\r\n"2" , 3\r\n  "4"\n\t,"unclosed' >$c/quotes
printf '1\r\n2\r\n\x1a3\r\n4\r\n' >$c/ctrl-z
printf '1\n2,3\r4\r\n\r\n\t5\t\r\n' >$c/lf-cr-tab
printf '&H7FFF\r\n&HFFFF\r\n&HFFFF&\r\n&O777%%\r\n&B1010??\r\n&HFFFFFFFF&&\r\n' >$c/radix
for i in $(seq 1 70); do printf '%d.%d\r\n' $((i - 35)) "$i"; done >$c/seventy-lines

n=number
printf '0.5' >$n/plain
printf ' \t\n-1.25E-3' >$n/leading-blanks
printf '+.5e+2xyz' >$n/trailing-text
printf '1D300' >$n/d-exponent
printf '1e99999999' >$n/long-exponent
printf '%s' "$(printf '9%.0s' $(seq 1 40)).5e4900" >$n/saturates
printf '0.%s1e-4900' "$(printf '0%.0s' $(seq 1 40))" >$n/underflows
printf '123456789012345678901234567890' >$n/thirty-digits
printf '&H7FFF' >$n/radix-hex
printf '&HFFFF&&' >$n/radix-quad
printf '&O177777%%' >$n/radix-octal-integer
printf '&B1010???' >$n/radix-binary-dword
printf '&H10000000000000000' >$n/radix-too-long
printf '&' >$n/ampersand-only
