#include "jpeg_page_writer.h"

namespace vellumax::converter {

JpegPageWriter::JpegPageWriter() {
    info_.err = jpeg_std_error(&errors_.manager);
    errors_.manager.error_exit = &JpegPageWriter::OnError;
    errors_.manager.output_message = &JpegPageWriter::OnMessage;
    if (setjmp(errors_.jump)) {
        return;
    }
    jpeg_create_compress(&info_);
    created_ = true;
}

JpegPageWriter::~JpegPageWriter() {
    if (created_) {
        jpeg_destroy_compress(&info_);
    }
}

void JpegPageWriter::OnError(j_common_ptr info) {
    // The manager is the first member of ErrorManager, so the pointer leads back to it.
    auto* errors = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jump, 1);
}

bool JpegPageWriter::Start(std::FILE* out, const JpegPage& page) {
    if (!created_) {
        return false;
    }
    if (setjmp(errors_.jump)) {
        return false;
    }
    jpeg_stdio_dest(&info_, out);
    info_.image_width = page.width;
    info_.image_height = page.height;
    info_.input_components = page.components;
    info_.in_color_space = page.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info_);
    jpeg_set_quality(&info_, page.quality, TRUE);
    info_.write_JFIF_header = TRUE;
    info_.density_unit = page.density.unit;
    info_.X_density = page.density.x;
    info_.Y_density = page.density.y;
    jpeg_start_compress(&info_, TRUE);
    return true;
}

bool JpegPageWriter::WriteRow(const std::uint8_t* row) {
    if (setjmp(errors_.jump)) {
        return false;
    }
    JSAMPROW rows[1] = {const_cast<JSAMPLE*>(row)};
    jpeg_write_scanlines(&info_, rows, 1);
    return true;
}

bool JpegPageWriter::Finish() {
    if (setjmp(errors_.jump)) {
        return false;
    }
    jpeg_finish_compress(&info_);
    return true;
}

}  // namespace vellumax::converter
