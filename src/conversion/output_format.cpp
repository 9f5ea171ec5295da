#include "conversion/output_format.h"

namespace vellumax {

std::optional<OutputFormat> OutputFormatNamed(const QString& name) {
    for (const OutputFormat& format : kOutputFormats) {
        if (name == format.name) {
            return format;
        }
    }
    return std::nullopt;
}

}  // namespace vellumax
