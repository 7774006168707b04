// libFuzzer target: the whole program -- dialogue, odds-ratio conversion,
// range searches, reports, repeat question -- on arbitrary bytes as standard
// input, in process. Every way the program ends (end of input, a fatal input
// diagnostic, a stop message) ends one input and returns its status; the
// output is formatted in full and then thrown away.
//
// Besides the sanitizers, the target checks that the program ends with one of
// the statuses an input can cause: 0 (declined another calculation, or a
// stop message) or the fatal-input status. Anything else -- the minimizer's
// machine-constant stop, an output failure -- means a fault and aborts.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <istream>
#include <ostream>
#include <streambuf>
#include <string_view>

#include "console/console.h"
#include "dialogue/program.h"

namespace {

// Accepts and forgets everything written to it.
class DiscardBuffer : public std::streambuf {
 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
};

// Reads from the fuzzer's bytes without copying them.
class BytesBuffer : public std::streambuf {
 public:
  BytesBuffer(const std::uint8_t* data, std::size_t size) {
    char* begin = const_cast<char*>(reinterpret_cast<const char*>(data));
    setg(begin, begin, begin + size);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  BytesBuffer bytes(data, size);
  DiscardBuffer discard;
  std::istream in(&bytes);
  std::ostream out(&discard);
  std::ostream err(&discard);
  const int status = gxe::dialogue::run_program(in, out, err);
  if (status != 0 && status != gxe::console::kFatalInputStatus) std::abort();
  return 0;
}
