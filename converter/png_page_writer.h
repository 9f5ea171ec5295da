#pragma once

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <string>

#include <png.h>

#include "page_layout.h"

namespace vellumax::converter {

struct PngPage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int components = 1;    // 1 grey, 3 RGB
    bool bilevel = false;  // grey rows of 0 and 255 only, stored one bit a pixel
    Resolution resolution;
};

// One PNG written row by row to a stdio stream. libpng reports errors by jumping back, so
// every call into it sits behind a setjmp in a function that owns no C++ objects.
class PngPageWriter {
public:
    PngPageWriter() = default;
    ~PngPageWriter();
    PngPageWriter(const PngPageWriter&) = delete;
    PngPageWriter& operator=(const PngPageWriter&) = delete;

    bool Start(std::FILE* out, const PngPage& page);
    // `row` holds width * components bytes, 8 bits a sample whatever is stored.
    bool WriteRow(std::uint8_t* row);
    bool Finish();
    std::string error() const { return message_; }

private:
    static void OnError(png_structp png, png_const_charp message);
    static void OnWarning(png_structp, png_const_charp) {}

    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    bool bilevel_ = false;
    std::uint32_t width_ = 0;
    char message_[512] = "";
};

// Packs a row of 0 and 255 into one bit a pixel, most significant first, 1 for white.
void PackBilevelRow(const std::uint8_t* grey, std::uint32_t width, std::uint8_t* out,
                    bool oneIsWhite);

}  // namespace vellumax::converter
