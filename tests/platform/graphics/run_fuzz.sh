#!/usr/bin/env bash
# A bounded fuzz session of the JPEG and PNG decoders for the normal test
# suite: builds the libFuzzer target with clang (the suite itself may be
# built with g++), seeds it with small valid pictures, and runs it for a
# fixed time. Exits 77 (skipped) when clang or its libFuzzer runtime is
# not installed.
set -euo pipefail
source "$(dirname "$0")/../../support/fuzz_session.sh" "$@"

binary="$work/fuzz_decode"
sources=("$src/platform/graphics/ImageIO.cpp" "$src/platform/graphics/JpegCodec.cpp"
         "$src/platform/graphics/PngCodec.cpp" "$src/platform/graphics/Image.cpp"
         "$src/platform/graphics/PixelBuffer.cpp" "$src/platform/graphics/Normalize.cpp"
         "$src/platform/graphics/BitmapContext.cpp" "$src/platform/graphics/Resampler.cpp"
         "$src/platform/graphics/AffineTransform.cpp"
         "$src/platform/foundation/AtomicFile.cpp" "$src/platform/foundation/TemporaryFiles.cpp" "$src/tests/platform/graphics/fuzz_decode.cpp")
if fuzz_needs_rebuild "$binary" "${sources[@]}" "$src"/platform/graphics/*.h; then
  "$cxx" "${fuzz_cxxflags[@]}" "${sources[@]}" \
    $(pkg-config --cflags --libs libexif libpng) -ljpeg -o "$binary"
fi

# Seeds: a 9 x 7 JPEG with an EXIF orientation and a 3 x 2 translucent PNG,
# both made by this project's encoders, so the session starts deep.
unhex() { printf "$(sed 's/../\\x&/g' <<<"$1")"; }
unhex "ffd8ffe000104a46494600010100000100010000ffe100224578696600004d4d002a0000000800010112000300000001\
0006000000000000ffdb004300100b0c0e0c0a100e0d0e1211101318281a181616183123251d283a333d3c3933383740\
485c4e404457453738506d51575f626768673e4d71797064785c656763ffdb0043011112121815182f1a1a2f63423842\
636363636363636363636363636363636363636363636363636363636363636363636363636363636363636363636363\
6363ffc00011080007000903012200021101031101ffc4001f0000010501010101010100000000000000000102030405\
060708090a0bffc400b5100002010303020403050504040000017d010203000411051221314106135161072271143281\
91a1082342b1c11552d1f02433627282090a161718191a25262728292a3435363738393a434445464748494a53545556\
5758595a636465666768696a737475767778797a838485868788898a92939495969798999aa2a3a4a5a6a7a8a9aab2b3\
b4b5b6b7b8b9bac2c3c4c5c6c7c8c9cad2d3d4d5d6d7d8d9dae1e2e3e4e5e6e7e8e9eaf1f2f3f4f5f6f7f8f9faffc400\
1f0100030101010101010101010000000000000102030405060708090a0bffc400b51100020102040403040705040400\
010277000102031104052131061241510761711322328108144291a1b1c109233352f0156272d10a162434e125f11718\
191a262728292a35363738393a434445464748494a535455565758595a636465666768696a737475767778797a828384\
85868788898a92939495969798999aa2a3a4a5a6a7a8a9aab2b3b4b5b6b7b8b9bac2c3c4c5c6c7c8c9cad2d3d4d5d6d7\
d8d9dae2e3e4e5e6e7e8e9eaf2f3f4f5f6f7f8f9faffda000c03010002110311003f008def58a7996c813350fdaaff00\
fbe28a2b3c5557424a104b6ec4e2aa3c2b51a5a5d5cfffd9" >"$work/corpus/seed-jpeg"
unhex "89504e470d0a1a0a0000000d49484452000000030000000208060000009d74661a0000002349444154089963f8bffd5d16030303839d68ba2af3e33fe6bff6c736f9ed4a78aa060089c00b1294abb9df0000000049454e44ae426082" >"$work/corpus/seed-png"

fuzz_run "$binary"
