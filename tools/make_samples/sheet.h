#pragma once

#include <QPainter>
#include <QString>
#include <QStringList>
#include <vector>

#include "document_writer.h"

namespace vellumax::samples {

// Resolution of every sample page; A4 at this resolution is 1654 x 2339 pixels.
inline constexpr int kDpi = 200;

struct Column {
    double widthMm;
    Qt::Alignment align;
};

// One A4 page being typed top to bottom, in the style its kind allows: bi-level pages are drawn
// without antialiasing so that nothing is lost when they are reduced to black and white.
class Sheet {
public:
    Sheet(PageKind kind, int number, int count);

    static int Mm(double mm);
    QPainter& painter() { return painter_; }
    QFont Font(double points, bool bold = false) const;
    int y() const { return y_; }
    int left() const { return Mm(kLeftMm); }
    int width() const { return image_.width() - Mm(kLeftMm + kRightMm); }

    void Line(const QString& text, double points = 11, bool bold = false,
              Qt::Alignment align = Qt::AlignLeft);
    void Paragraph(const QString& text, double points = 11);
    void Table(const std::vector<Column>& columns, const std::vector<QStringList>& rows);
    void Signature(const QColor& ink);
    void Rule(double thicknessMm = 0.4);
    void Skip(double mm) { y_ += Mm(mm); }

    Page Finish();

private:
    static constexpr double kLeftMm = 25;
    static constexpr double kRightMm = 20;

    void MarkAsSample(int number, int count);

    PageKind kind_;
    QImage image_;
    QPainter painter_;
    int y_;
};

}  // namespace vellumax::samples
