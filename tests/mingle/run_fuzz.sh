#!/usr/bin/env bash
# A bounded fuzz session of the Mingle client's XML answer reader (expat
# and MGXMLHandler) for the normal test suite: builds the libFuzzer target
# with clang (the suite itself may be built with g++), seeds it with real
# answers, and runs it for a fixed time. Exits 77 (skipped) when clang or
# its libFuzzer runtime is not installed.
set -euo pipefail
source "$(dirname "$0")/../support/fuzz_session.sh" "$@"

binary="$work/fuzz_mgxml"
sources=("$src/mingle/MGXMLHandler.cpp" "$src/mingle/MGValue.cpp"
         "$src/platform/net/XMLParser.cpp" "$src/tests/mingle/fuzz_mgxml.cpp")
if fuzz_needs_rebuild "$binary" "${sources[@]}" "$src/mingle/MGXMLHandler.h" \
     "$src/mingle/MGValue.h" "$src/platform/net/XMLParser.h"; then
  "$cxx" "${fuzz_cxxflags[@]}" "${sources[@]}" -lexpat -o "$binary"
fi

# Seeds: the shapes the service answers with, so the session starts deep.
seed() { printf '%s' "$2" >"$work/corpus/seed-$1"; }
seed session '<?xml version="1.0" encoding="UTF-8"?><mingle_auth_getSession_response><session_key>k</session_key><uid>12</uid><expires>0</expires><secret>s</secret></mingle_auth_getSession_response>'
seed error '<error_response><error_code>104</error_code><error_msg>incorrect signature</error_msg><request_args list="true"><arg><key>method</key><value>photos.upload</value></arg></request_args></error_response>'
seed query '<mingle_query_response list="true"><user><uid>1</uid><name>ann &amp; co</name></user></mingle_query_response>'
seed mixed '<a>text<b>1</b><b>2</b><c list="true"><x>1</x><x><y/></x></c> </a>'
seed doctype '<!DOCTYPE a [<!ENTITY e "x">]><a>&e;</a>'

fuzz_run "$binary"
