#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace vellumax::converter {

enum class ColourModel { Grey, Palette, Rgb, Cmyk };

// Turns rows of TIFF samples, as libtiff decodes them (MSB-first bits, native-endian 16-bit
// words), into 8-bit grey or RGB pixels.
class SampleConverter {
public:
    struct Format {
        ColourModel model = ColourModel::Grey;
        int bitsPerSample = 8;    // 1, 2, 4, 8 or 16
        int samplesPerPixel = 1;  // as stored, extra samples included
        bool separatePlanes = false;
        bool minIsWhite = false;
        int alphaSample = -1;  // index of the alpha sample, or -1
        bool alphaAssociated = false;
    };

    // `palette` is needed for ColourModel::Palette: 2^bits entries, 8-bit already.
    SampleConverter(const Format& format, std::vector<std::array<std::uint8_t, 3>> palette = {});

    int components() const { return format_.model == ColourModel::Grey ? 1 : 3; }
    // How many sample planes Convert() looks at when planes are stored separately.
    int planesNeeded() const;

    // Converts `pixels` pixels. `planes` holds one row start for contiguous samples, else one
    // per plane up to planesNeeded(); every row starts on a byte.
    void Convert(const std::uint8_t* const* planes, std::uint32_t pixels, std::uint8_t* out) const;

private:
    std::uint32_t Raw(const std::uint8_t* const* planes, std::uint32_t x, int sample) const;
    std::uint8_t Level(const std::uint8_t* const* planes, std::uint32_t x, int sample) const;
    std::uint8_t OverWhite(std::uint8_t colour, std::uint8_t alpha) const;
    void ConvertGrey(const std::uint8_t* const* planes, std::uint32_t pixels,
                     std::uint8_t* out) const;
    void ExpandBilevel(const std::uint8_t* row, std::uint32_t pixels, std::uint8_t* out) const;
    void ConvertColour(const std::uint8_t* const* planes, std::uint32_t pixels,
                       std::uint8_t* out) const;

    Format format_;
    std::vector<std::array<std::uint8_t, 3>> palette_;
};

}  // namespace vellumax::converter
