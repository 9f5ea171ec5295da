#pragma once

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <string>

#include <jpeglib.h>

namespace vellumax::converter {

// Resolution as the JFIF header carries it: unit 0 (aspect ratio only), 1 (per inch), 2 (per cm).
struct Density {
    std::uint8_t unit = 0;
    std::uint16_t x = 1;
    std::uint16_t y = 1;
};

struct JpegPage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int components = 1;  // 1 grey, 3 RGB
    int quality = 75;
    Density density;
};

// One baseline JPEG written row by row to a stdio stream. libjpeg reports errors by calling
// back, so every call into it sits behind a setjmp in a function that owns no C++ objects.
class JpegPageWriter {
public:
    JpegPageWriter();
    ~JpegPageWriter();
    JpegPageWriter(const JpegPageWriter&) = delete;
    JpegPageWriter& operator=(const JpegPageWriter&) = delete;

    bool Start(std::FILE* out, const JpegPage& page);
    // `row` holds width * components bytes.
    bool WriteRow(const std::uint8_t* row);
    bool Finish();
    // Why the last call failed.
    std::string error() const { return errors_.message; }

private:
    struct ErrorManager {
        jpeg_error_mgr manager;
        std::jmp_buf jump;
        char message[JMSG_LENGTH_MAX];
    };
    static void OnError(j_common_ptr info);
    static void OnMessage(j_common_ptr) {}

    ErrorManager errors_{};
    jpeg_compress_struct info_{};
    bool created_ = false;
};

}  // namespace vellumax::converter
