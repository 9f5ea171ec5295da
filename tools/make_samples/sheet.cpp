#include "sheet.h"

#include <QPainterPath>

namespace vellumax::samples {
namespace {

QImage BlankPage(PageKind kind) {
    QImage image(Sheet::Mm(210), Sheet::Mm(297),
                 kind == PageKind::Colour ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
    // Font sizes in points follow the image's resolution.
    image.setDotsPerMeterX(qRound(kDpi / 0.0254));
    image.setDotsPerMeterY(qRound(kDpi / 0.0254));
    image.fill(Qt::white);
    return image;
}

}  // namespace

Sheet::Sheet(PageKind kind, int number, int count)
    : kind_(kind), image_(BlankPage(kind)), painter_(&image_), y_(Mm(30)) {
    painter_.setRenderHint(QPainter::Antialiasing, kind_ != PageKind::Bilevel);
    painter_.setPen(Qt::black);
    MarkAsSample(number, count);
}

int Sheet::Mm(double mm) {
    return qRound(mm * kDpi / 25.4);
}

QFont Sheet::Font(double points, bool bold) const {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSizeF(points);
    font.setBold(bold);
    // Unhinted outlines draw the same whatever the machine's font settings say.
    font.setHintingPreference(QFont::PreferNoHinting);
    if (kind_ == PageKind::Bilevel) {
        font.setStyleStrategy(QFont::NoAntialias);
    }
    return font;
}

void Sheet::Line(const QString& text, double points, bool bold, Qt::Alignment align) {
    painter_.setFont(Font(points, bold));
    const int height = painter_.fontMetrics().lineSpacing();
    painter_.drawText(QRect(left(), y_, width(), height), align | Qt::AlignVCenter, text);
    y_ += height;
}

void Sheet::Paragraph(const QString& text, double points) {
    painter_.setFont(Font(points));
    QRect box;
    painter_.drawText(QRect(left(), y_, width(), image_.height()), Qt::TextWordWrap, text, &box);
    y_ += box.height() + Mm(3);
}

void Sheet::Table(const std::vector<Column>& columns, const std::vector<QStringList>& rows) {
    const int rowHeight = Mm(8);
    const int pad = Mm(1.5);
    const int top = y_;
    int rowIndex = 0;
    for (const QStringList& row : rows) {
        const bool header = rowIndex++ == 0;
        if (header && kind_ != PageKind::Bilevel) {
            painter_.fillRect(left(), y_, width(), rowHeight, QColor(215, 215, 215));
        }
        painter_.setFont(Font(10, header));
        int x = left();
        for (std::size_t i = 0; i < columns.size() && i < std::size_t(row.size()); ++i) {
            const int cellWidth = Mm(columns[i].widthMm);
            painter_.drawText(QRect(x + pad, y_, cellWidth - 2 * pad, rowHeight),
                              columns[i].align | Qt::AlignVCenter, row[int(i)]);
            x += cellWidth;
        }
        y_ += rowHeight;
        painter_.setPen(QPen(Qt::black, header ? Mm(0.4) : Mm(0.15)));
        painter_.drawLine(left(), y_, x, y_);
    }
    painter_.setPen(QPen(Qt::black, Mm(0.4)));
    painter_.drawLine(left(), top, left() + width(), top);
    painter_.setPen(Qt::black);
    y_ += Mm(4);
}

void Sheet::Signature(const QColor& ink) {
    QPainterPath path(QPointF(left(), y_ + Mm(10)));
    path.cubicTo(left() + Mm(8), y_ - Mm(4), left() + Mm(10), y_ + Mm(16), left() + Mm(18),
                 y_ + Mm(6));
    path.cubicTo(left() + Mm(24), y_, left() + Mm(26), y_ + Mm(12), left() + Mm(34), y_ + Mm(8));
    path.cubicTo(left() + Mm(40), y_ + Mm(5), left() + Mm(44), y_ + Mm(9), left() + Mm(52),
                 y_ + Mm(4));
    painter_.strokePath(path, QPen(ink, Mm(0.5), Qt::SolidLine, Qt::RoundCap));
    y_ += Mm(16);
}

void Sheet::Rule(double thicknessMm) {
    painter_.fillRect(left(), y_, width(), std::max(1, Mm(thicknessMm)), Qt::black);
    y_ += Mm(4);
}

// Every page says what it is, so a sample is never taken for a real record.
void Sheet::MarkAsSample(int number, int count) {
    painter_.setFont(Font(8, true));
    painter_.drawText(QRect(left(), Mm(10), width(), Mm(6)), Qt::AlignCenter,
                      QStringLiteral("VELLUMAX SAMPLE DOCUMENT \u2014 FICTIONAL CONTENT FOR "
                                     "DEMONSTRATION ONLY"));
    painter_.setFont(Font(8));
    painter_.drawText(
        QRect(left(), image_.height() - Mm(14), width(), Mm(6)), Qt::AlignCenter,
        QStringLiteral("Vellumax sample \u2014 page %1 of %2").arg(number).arg(count));
}

Page Sheet::Finish() {
    painter_.end();
    return {kind_, image_};
}

}  // namespace vellumax::samples
