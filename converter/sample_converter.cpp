#include "sample_converter.h"

#include <algorithm>
#include <cstring>

namespace vellumax::converter {

SampleConverter::SampleConverter(const Format& format,
                                 std::vector<std::array<std::uint8_t, 3>> palette)
    : format_(format), palette_(std::move(palette)) {}

int SampleConverter::planesNeeded() const {
    const int colourSamples = format_.model == ColourModel::Cmyk  ? 4
                              : format_.model == ColourModel::Rgb ? 3
                                                                  : 1;
    return std::max(colourSamples, format_.alphaSample + 1);
}

std::uint32_t SampleConverter::Raw(const std::uint8_t* const* planes, std::uint32_t x,
                                   int sample) const {
    const std::uint8_t* data = planes[0];
    std::size_t index = std::size_t{x} * format_.samplesPerPixel + sample;
    if (format_.separatePlanes) {
        data = planes[sample];
        index = x;
    }
    const int bits = format_.bitsPerSample;
    if (bits == 8) {
        return data[index];
    }
    if (bits == 16) {
        std::uint16_t value;
        std::memcpy(&value, data + 2 * index, sizeof value);
        return value;
    }
    const std::size_t bit = index * bits;
    return (data[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

std::uint8_t SampleConverter::Level(const std::uint8_t* const* planes, std::uint32_t x,
                                    int sample) const {
    const std::uint32_t raw = Raw(planes, x, sample);
    switch (format_.bitsPerSample) {
        case 8:
            return static_cast<std::uint8_t>(raw);
        case 16:
            return static_cast<std::uint8_t>((raw * 255 + 32767) / 65535);
        default:
            return static_cast<std::uint8_t>(raw * 255 / ((1u << format_.bitsPerSample) - 1));
    }
}

// A JPEG has no transparency: transparent parts show the paper, white.
std::uint8_t SampleConverter::OverWhite(std::uint8_t colour, std::uint8_t alpha) const {
    if (format_.alphaAssociated) {
        return static_cast<std::uint8_t>(std::min(255, colour + 255 - alpha));
    }
    return static_cast<std::uint8_t>((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

void SampleConverter::Convert(const std::uint8_t* const* planes, std::uint32_t pixels,
                              std::uint8_t* out) const {
    if (format_.model == ColourModel::Grey) {
        ConvertGrey(planes, pixels, out);
    } else {
        ConvertColour(planes, pixels, out);
    }
}

void SampleConverter::ConvertGrey(const std::uint8_t* const* planes, std::uint32_t pixels,
                                  std::uint8_t* out) const {
    if (format_.bitsPerSample == 8 && format_.samplesPerPixel == 1 && !format_.minIsWhite) {
        std::memcpy(out, planes[0], pixels);
        return;
    }
    if (format_.bitsPerSample == 1 && format_.samplesPerPixel == 1) {
        ExpandBilevel(planes[0], pixels, out);
        return;
    }
    for (std::uint32_t x = 0; x < pixels; ++x) {
        std::uint8_t level = Level(planes, x, 0);
        if (format_.minIsWhite) {
            level = 255 - level;
        }
        if (format_.alphaSample >= 0) {
            level = OverWhite(level, Level(planes, x, format_.alphaSample));
        }
        out[x] = level;
    }
}

// Scanned text pages are mostly bi-level: eight pixels a byte at a time, not one by one.
void SampleConverter::ExpandBilevel(const std::uint8_t* row, std::uint32_t pixels,
                                    std::uint8_t* out) const {
    const std::uint8_t set = format_.minIsWhite ? 0 : 255;
    const std::uint8_t clear = 255 - set;
    const std::uint32_t wholeBytes = pixels / 8;
    for (std::uint32_t byte = 0; byte < wholeBytes; ++byte, out += 8) {
        const std::uint8_t bits = row[byte];
        for (int bit = 0; bit < 8; ++bit) {
            out[bit] = (bits & (0x80 >> bit)) != 0 ? set : clear;
        }
    }
    for (std::uint32_t x = wholeBytes * 8; x < pixels; ++x, ++out) {
        *out = (row[x / 8] & (0x80 >> (x % 8))) != 0 ? set : clear;
    }
}

void SampleConverter::ConvertColour(const std::uint8_t* const* planes, std::uint32_t pixels,
                                    std::uint8_t* out) const {
    const bool plainRgb = format_.model == ColourModel::Rgb && format_.bitsPerSample == 8 &&
                          format_.samplesPerPixel == 3 && !format_.separatePlanes;
    if (plainRgb) {
        std::memcpy(out, planes[0], std::size_t{pixels} * 3);
        return;
    }
    for (std::uint32_t x = 0; x < pixels; ++x, out += 3) {
        if (format_.model == ColourModel::Palette) {
            const auto& entry = palette_[Raw(planes, x, 0)];
            std::copy(entry.begin(), entry.end(), out);
            continue;
        }
        if (format_.model == ColourModel::Cmyk) {
            const int paper = 255 - Level(planes, x, 3);
            for (int c = 0; c < 3; ++c) {
                out[c] = static_cast<std::uint8_t>((255 - Level(planes, x, c)) * paper / 255);
            }
            continue;
        }
        for (int c = 0; c < 3; ++c) {
            out[c] = Level(planes, x, c);
            if (format_.alphaSample >= 0) {
                out[c] = OverWhite(out[c], Level(planes, x, format_.alphaSample));
            }
        }
    }
}

}  // namespace vellumax::converter
