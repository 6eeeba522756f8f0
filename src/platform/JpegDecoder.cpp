#include "platform/JpegDecoder.h"

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE and size_t declared first
#include <cstring>

#include <jpeglib.h>

namespace {

// Far beyond any picture this program shows; a header that claims more is
// treated as corrupt rather than allocated.
constexpr unsigned long maxPixels = 16UL * 1024 * 1024;

// libjpeg's own handler ends the process on an error. This one jumps back to
// the setjmp of the stage that is running, and counts warnings (libjpeg warns
// and carries on with made-up data when a picture is truncated or damaged).
struct ErrorManager {
    jpeg_error_mgr pub; // first, so libjpeg's pointer to it is a pointer to this
    std::jmp_buf jump;
};

[[noreturn]] void errorExit(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void emitMessage(j_common_ptr info, int level)
{
    if (level < 0)
        ++info->err->num_warnings;
}

void outputMessage(j_common_ptr) {}

// The two stages that can fail inside libjpeg. Each sets its own return point
// and holds nothing with a destructor, since longjmp skips destructors; the
// image lives in the caller, between the stages.

bool readHeader(jpeg_decompress_struct* info, ErrorManager* errors, const unsigned char* data, unsigned long size)
{
    if (setjmp(errors->jump))
        return false;
    jpeg_create_decompress(info);
    jpeg_mem_src(info, data, size);
    jpeg_read_header(info, TRUE);
    info->out_color_space = JCS_RGB;
    jpeg_start_decompress(info);
    return info->output_components == 3;
}

bool readPixels(jpeg_decompress_struct* info, ErrorManager* errors, unsigned char* bits, long bytesPerLine)
{
    if (setjmp(errors->jump))
        return false;
    while (info->output_scanline < info->output_height) {
        JSAMPROW row = bits + long(info->output_scanline) * bytesPerLine;
        if (jpeg_read_scanlines(info, &row, 1) != 1)
            return false;
    }
    jpeg_finish_decompress(info);
    return errors->pub.num_warnings == 0;
}

} // namespace

QImage decodeJpeg(QByteArrayView data)
{
    if (data.isEmpty())
        return {};
    jpeg_decompress_struct info;
    ErrorManager errors;
    std::memset(&info, 0, sizeof info);
    std::memset(&errors, 0, sizeof errors);
    info.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = errorExit;
    errors.pub.emit_message = emitMessage;
    errors.pub.output_message = outputMessage;

    QImage image;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    if (readHeader(&info, &errors, bytes, static_cast<unsigned long>(data.size())) && info.output_width > 0
        && info.output_height > 0 && static_cast<unsigned long>(info.output_width) <= maxPixels / info.output_height) {
        image = QImage(int(info.output_width), int(info.output_height), QImage::Format_RGB888);
        if (image.isNull() || !readPixels(&info, &errors, image.bits(), long(image.bytesPerLine())))
            image = QImage();
    }
    jpeg_destroy_decompress(&info);
    return image;
}
