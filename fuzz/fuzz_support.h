// Helpers the fuzz targets share: input-derived chunk sizes, and the checks a line of
// headless output must pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace fuzz {

// Stops the run so libFuzzer keeps the input; the message says which property broke.
[[noreturn]] void Fail(const char* what);

inline void Check(bool ok, const char* what) {
    if (!ok) Fail(what);
}

// Piece sizes 1..limit from a seed, as a socket or a sound card would cut a stream.
class Chunker {
  public:
    Chunker(std::string_view seedText, std::size_t limit);
    std::size_t Next();

  private:
    std::uint64_t state_;
    std::size_t limit_;
};

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool ValidUtf8(std::string_view text);

// One headless output line: valid UTF-8; exactly `fields` tab-separated fields, each starting
// with its name and "=" in the order given; no other control character (C0, DEL, C1) anywhere;
// `endsWithLf` says whether the writer ends the line itself.
const char* LineFault(std::string_view line, const char* const* names, std::size_t fields,
                      bool endsWithLf);

}  // namespace fuzz
