#include "app/InfoUnit.h"
#include "platform/JpegDecoder.h"

#include <QBuffer>
#include <QImageReader>
#include <QtTest>

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace {

// Encodes with libjpeg's defaults: quality 100, 4:2:0 for colour.
QByteArray encode(const QImage& picture, bool gray, bool progressive)
{
    const QImage rgb = picture.convertToFormat(gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(rgb.width());
    info.image_height = JDIMENSION(rgb.height());
    info.input_components = gray ? 1 : 3;
    info.in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    if (progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uchar*>(rgb.constScanLine(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<const char*>(buffer), qsizetype(size));
    std::free(buffer);
    return bytes;
}

// Four flat quadrants; flat areas survive JPEG almost unchanged.
QImage quadrants(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool right = x >= width / 2, bottom = y >= height / 2;
            image.setPixelColor(x, y, right ? (bottom ? QColor(20, 20, 200) : QColor(30, 200, 40))
                                            : (bottom ? QColor(240, 240, 240) : QColor(220, 30, 20)));
        }
    return image;
}

bool near(const QColor& a, const QColor& b)
{
    return qAbs(a.red() - b.red()) <= 8 && qAbs(a.green() - b.green()) <= 8 && qAbs(a.blue() - b.blue()) <= 8;
}

// The offset of the first SOF marker's height field.
qsizetype frameHeightOffset(const QByteArray& jpeg)
{
    for (qsizetype i = 0; i + 9 < jpeg.size(); ++i)
        if (uchar(jpeg[i]) == 0xFF && (uchar(jpeg[i + 1]) == 0xC0 || uchar(jpeg[i + 1]) == 0xC2))
            return i + 5;
    return -1;
}

} // namespace

class JpegDecoderTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void embeddedLogoDecodesToItsSize();
    void decodedPixelsAreThePicture_data();
    void decodedPixelsAreThePicture();
    void brokenDataIsReported_data();
    void brokenDataIsReported();
    void everyTruncationOfTheLogoIsReported();
};

void JpegDecoderTest::embeddedLogoDecodesToItsSize()
{
    const QByteArray logo = logoJpeg();
    QVERIFY(!logo.isEmpty());
    const QImage image = decodeJpeg(logo);
    QCOMPARE(image.size(), QSize(220, 80));

    // Qt's own JPEG reader, where installed, sees the same picture.
    QBuffer buffer;
    buffer.setData(logo);
    QImageReader reader(&buffer, "jpeg");
    if (!reader.canRead())
        QSKIP("no Qt JPEG plugin to compare with");
    const QImage reference = reader.read().convertToFormat(QImage::Format_RGB888);
    QCOMPARE(reference.size(), image.size());
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!near(image.pixelColor(x, y), reference.pixelColor(x, y)))
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 differs").arg(x).arg(y)));
}

void JpegDecoderTest::decodedPixelsAreThePicture_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<bool>("progressive");
    QTest::newRow("colour") << QSize(64, 48) << false << false;
    // 3 bytes a pixel: 195-byte rows, padded to 196 in the image.
    QTest::newRow("odd width") << QSize(65, 32) << false << false;
    QTest::newRow("progressive") << QSize(48, 32) << false << true;
    QTest::newRow("grayscale") << QSize(32, 32) << true << false;
}

void JpegDecoderTest::decodedPixelsAreThePicture()
{
    QFETCH(QSize, size);
    QFETCH(bool, gray);
    QFETCH(bool, progressive);
    const QImage original = quadrants(size.width(), size.height());
    const QImage expected = gray ? original.convertToFormat(QImage::Format_Grayscale8) : original;
    const QImage image = decodeJpeg(encode(original, gray, progressive));
    QCOMPARE(image.size(), size);
    // Away from the quadrants' edges, where JPEG blurs (colour is kept at
    // half resolution, in blocks of 16 pixels).
    for (const QPoint at : {QPoint(1, 1), QPoint(size.width() - 2, 1), QPoint(1, size.height() - 1),
                            QPoint(size.width() - 1, size.height() - 2)})
        QVERIFY2(near(image.pixelColor(at), expected.pixelColor(at)),
                 qPrintable(QStringLiteral("%1,%2: %3 for %4")
                                .arg(at.x())
                                .arg(at.y())
                                .arg(image.pixelColor(at).name(), expected.pixelColor(at).name())));
}

void JpegDecoderTest::brokenDataIsReported_data()
{
    const QByteArray good = encode(quadrants(32, 16), false, false);
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << QByteArray("not a picture at all");
    QTest::newRow("start marker only") << QByteArray("\xFF\xD8", 2);
    QTest::newRow("PNG signature") << QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16);

    QByteArray scrambled = good;
    for (qsizetype i = good.size() / 2; i < good.size() - 2; ++i)
        scrambled[i] = char(uchar(i * 37 + 11));
    QTest::newRow("scrambled picture data") << scrambled;

    const qsizetype height = frameHeightOffset(good);
    QVERIFY(height > 0);
    QByteArray huge = good;
    huge[height] = huge[height + 1] = huge[height + 2] = huge[height + 3] = char(0xFF); // 65535 x 65535
    QTest::newRow("claims 65535 x 65535") << huge;
    QByteArray zero = good;
    zero[height + 2] = zero[height + 3] = 0; // width 0
    QTest::newRow("claims width 0") << zero;
}

void JpegDecoderTest::brokenDataIsReported()
{
    QFETCH(QByteArray, data);
    QVERIFY(decodeJpeg(data).isNull());
}

void JpegDecoderTest::everyTruncationOfTheLogoIsReported()
{
    const QByteArray logo = logoJpeg();
    QVERIFY(logo.size() > 100);
    for (qsizetype length = 0; length < logo.size(); length += (length < 700 ? 7 : 211))
        QVERIFY2(decodeJpeg(QByteArrayView(logo).first(length)).isNull(), qPrintable(QString::number(length)));
    // Only the end marker missing.
    QVERIFY(decodeJpeg(QByteArrayView(logo).first(logo.size() - 2)).isNull());
    QVERIFY(!decodeJpeg(logo).isNull());
}

QTEST_MAIN(JpegDecoderTest)
#include "test_jpegdecoder.moc"
