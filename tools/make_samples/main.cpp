// Draws the example documents that Vellumax offers beside itself and writes them into the folder
// named on the command line. Everything is drawn here, so each build produces the same bytes.

#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QLocale>
#include <cstdio>

#include "document_writer.h"
#include "sheet.h"

namespace vellumax::samples {
namespace {

const QColor kInk(30, 30, 30);
const QColor kBlueInk(25, 50, 140);
constexpr double kTextWidthMm = 165;

void Letterhead(Sheet& sheet) {
    sheet.Line(QStringLiteral("Northgate Records Management Ltd"), 20, true);
    sheet.Line(QStringLiteral("Unit 4, Riverside Business Park \u00b7 Milltown MT3 8QA \u00b7 "
                              "01632 960418 \u00b7 office@northgate.example"),
               9);
    sheet.Skip(1);
    sheet.Rule();
}

void Stamp(Sheet& sheet, QPointF centre, const QString& text, const QColor& ink) {
    QPainter& painter = sheet.painter();
    painter.save();
    painter.translate(centre);
    painter.rotate(-8);
    painter.setPen(QPen(ink, Sheet::Mm(0.7)));
    painter.setFont(sheet.Font(14, true));
    const QRect box(-Sheet::Mm(32), -Sheet::Mm(8), Sheet::Mm(64), Sheet::Mm(16));
    painter.drawRoundedRect(box, Sheet::Mm(2), Sheet::Mm(2));
    painter.drawText(box, Qt::AlignCenter, text);
    painter.restore();
}

Page LetterPage() {
    Sheet sheet(PageKind::Bilevel, 1, 2);
    Letterhead(sheet);
    sheet.Line(QStringLiteral("14 March 2023"), 11, false, Qt::AlignRight);
    for (const char* line :
         {"Ms Adaeze Okafor", "Head of Administration", "Bramley & Finch Solicitors",
          "22 Chapel Street", "Milltown MT1 2LD"}) {
        sheet.Line(QString::fromUtf8(line));
    }
    sheet.Skip(6);
    sheet.Line(QStringLiteral("Our ref: NRM/2023/118"), 10);
    sheet.Skip(6);
    sheet.Line(QStringLiteral("Dear Ms Okafor,"));
    sheet.Skip(3);
    sheet.Line(QStringLiteral("Digitisation of your closed client files"), 11, true);
    sheet.Skip(2);
    sheet.Paragraph(QStringLiteral(
        "Thank you for meeting us last week to discuss the closed client files held in your "
        "basement store. As agreed, we collected the first 24 archive boxes on 10 March and have "
        "begun scanning them at our Riverside facility."));
    sheet.Paragraph(QStringLiteral(
        "Every file is scanned at 200 dots per inch in black and white; photographs and coloured "
        "forms are captured in greyscale or colour where the content needs it. Each file becomes "
        "one multi-page document named after your file reference, so that your staff can find a "
        "matter without opening a box."));
    sheet.Paragraph(QStringLiteral(
        "The enclosed retention schedule lists the boxes received and the date after which each "
        "may be destroyed under your firm's policy. Please check it and return a signed copy, so "
        "that we can arrange secure shredding of the paper originals once you have approved the "
        "scans."));
    sheet.Paragraph(QStringLiteral("If you have any questions, please call me on 01632 960418."));
    sheet.Skip(4);
    sheet.Line(QStringLiteral("Yours sincerely,"));
    sheet.Skip(2);
    sheet.Signature(Qt::black);
    sheet.Line(QStringLiteral("Daniel Whitcombe"));
    sheet.Line(QStringLiteral("Operations Manager"));
    sheet.Skip(10);
    sheet.Line(QStringLiteral("Enc. Retention schedule"), 10);
    return sheet.Finish();
}

Page RetentionSchedulePage() {
    Sheet sheet(PageKind::Grey, 2, 2);
    // The shadow along the binding edge of a photocopied page.
    QLinearGradient shadow(0, 0, Sheet::Mm(12), 0);
    shadow.setColorAt(0, QColor(150, 150, 150));
    shadow.setColorAt(1, Qt::white);
    sheet.painter().fillRect(0, 0, Sheet::Mm(12), Sheet::Mm(297), shadow);
    Letterhead(sheet);
    sheet.Line(QStringLiteral("Retention schedule \u2014 Bramley & Finch Solicitors"), 14, true);
    sheet.Line(QStringLiteral("Enclosure to our letter NRM/2023/118 of 14 March 2023"), 10);
    sheet.Skip(6);
    std::vector<QStringList> rows{{"Box", "File references", "Received", "Destroy after"}};
    for (int box = 1; box <= 12; ++box) {
        const int first = (box - 1) * 26 + 1;
        rows.push_back({QStringLiteral("%1").arg(box, 2, 10, QLatin1Char('0')),
                        QStringLiteral("BF/1998/%1 \u2013 BF/1998/%2")
                            .arg(first, 3, 10, QLatin1Char('0'))
                            .arg(first + 25, 3, 10, QLatin1Char('0')),
                        QStringLiteral("10 Mar 2023"),
                        box <= 8 ? QStringLiteral("31 Dec 2024") : QStringLiteral("31 Dec 2029")});
    }
    sheet.Table(
        {{18, Qt::AlignLeft}, {77, Qt::AlignLeft}, {35, Qt::AlignLeft}, {35, Qt::AlignLeft}}, rows);
    sheet.Paragraph(QStringLiteral(
        "Boxes 13 to 24 follow on a second schedule once they have been indexed. Files that must "
        "be kept longer because of a claim or a regulator's request should be struck out and "
        "initialled."));
    sheet.Skip(8);
    Stamp(sheet, QPointF(Sheet::Mm(145), sheet.y() + Sheet::Mm(14)),
          QStringLiteral("RECEIVED 16 MAR 2023"), QColor(90, 90, 90));
    sheet.Line(QStringLiteral("Approved for Bramley & Finch Solicitors:"));
    sheet.Skip(2);
    sheet.Signature(kInk);
    sheet.Line(QStringLiteral("A. Okafor, 16 March 2023"));
    return sheet.Finish();
}

QString Pounds(qint64 pence) {
    return QLocale(QLocale::English, QLocale::UnitedKingdom).toString(pence / 100.0, 'f', 2);
}

Page InvoicePage() {
    Sheet sheet(PageKind::Bilevel, 1, 3);
    Letterhead(sheet);
    sheet.Line(QStringLiteral("INVOICE"), 24, true, Qt::AlignRight);
    sheet.Skip(2);
    for (const char* line : {"Invoice no.: NRM-INV-2023-0417", "Invoice date: 5 April 2023",
                             "Customer: Bramley & Finch Solicitors, 22 Chapel Street, Milltown",
                             "Purchase order: BF-PO-7731", "VAT reg. no.: GB 000 0000 00"}) {
        sheet.Line(QString::fromUtf8(line), 10);
    }
    sheet.Skip(8);
    struct Item {
        const char* description;
        int quantity;
        qint64 unitPence;
    };
    const Item items[] = {{"Collection of archive boxes (van and two staff)", 1, 18500},
                          {"Scanning, black and white, per page", 18460, 6},
                          {"Scanning, greyscale or colour, per page", 1212, 15},
                          {"Indexing by file reference, per file", 312, 90},
                          {"New archive boxes, pack of 10", 3, 2450},
                          {"Secure shredding of originals, per box", 24, 650}};
    const QLocale english(QLocale::English, QLocale::UnitedKingdom);
    std::vector<QStringList> rows{
        {"Description", "Quantity", "Unit price (\u00a3)", "Amount (\u00a3)"}};
    qint64 subtotal = 0;
    for (const Item& item : items) {
        const qint64 amount = item.quantity * item.unitPence;
        subtotal += amount;
        rows.push_back({QString::fromUtf8(item.description), english.toString(item.quantity),
                        Pounds(item.unitPence), Pounds(amount)});
    }
    const qint64 vat = (subtotal * 20 + 50) / 100;
    rows.push_back({"Subtotal", "", "", Pounds(subtotal)});
    rows.push_back({"VAT at 20%", "", "", Pounds(vat)});
    rows.push_back({"Total due", "", "", Pounds(subtotal + vat)});
    sheet.Table(
        {{85, Qt::AlignLeft}, {25, Qt::AlignRight}, {27, Qt::AlignRight}, {28, Qt::AlignRight}},
        rows);
    sheet.Skip(6);
    sheet.Paragraph(QStringLiteral(
        "Payment is due within 30 days of the invoice date. Please quote the invoice number with "
        "your payment. The returned boxes were signed for on 4 April 2023; the delivery note and "
        "a photograph of the delivery are attached."));
    return sheet.Finish();
}

Page DeliveryNotePage() {
    Sheet sheet(PageKind::Grey, 2, 3);
    Letterhead(sheet);
    sheet.Line(QStringLiteral("Delivery note DN-2023-0229"), 14, true);
    sheet.Skip(4);
    for (const char* line : {"Delivered to: Bramley & Finch Solicitors, Records Room B",
                             "Delivery date: 4 April 2023", "Driver: K. Mensah"}) {
        sheet.Line(QString::fromUtf8(line));
    }
    sheet.Skip(6);
    sheet.Table({{25, Qt::AlignRight}, {140, Qt::AlignLeft}},
                {{"Quantity", "Goods"},
                 {"24", "Archive boxes BF 01 to BF 24, returned after scanning"},
                 {"1", "Encrypted USB drive with 312 scanned documents"},
                 {"1", "Index of file references (printed)"}});
    sheet.Skip(10);
    sheet.Line(QStringLiteral("Received in good condition:"));
    sheet.Skip(2);
    sheet.Signature(kBlueInk);
    sheet.Line(QStringLiteral("A. Okafor"));
    Stamp(sheet, QPointF(Sheet::Mm(140), sheet.y() + Sheet::Mm(20)),
          QStringLiteral("CHECKED \u2014 KM"), QColor(110, 110, 110));
    return sheet.Finish();
}

// A photograph stands in as gradients: a wall, a floor and stacked archive boxes.
void DrawPhotograph(QPainter& painter, const QRect& frame) {
    QLinearGradient wall(frame.topLeft(), frame.bottomLeft());
    wall.setColorAt(0, QColor(236, 226, 205));
    wall.setColorAt(1, QColor(196, 180, 150));
    painter.fillRect(frame, wall);
    const QRect floor(frame.left(), frame.top() + frame.height() * 2 / 3, frame.width(),
                      frame.height() / 3);
    QLinearGradient boards(floor.topLeft(), floor.bottomLeft());
    boards.setColorAt(0, QColor(120, 88, 60));
    boards.setColorAt(1, QColor(70, 48, 32));
    painter.fillRect(floor, boards);
    QRadialGradient light(frame.topRight(), frame.width() * 0.8);
    light.setColorAt(0, QColor(255, 250, 230, 150));
    light.setColorAt(1, QColor(255, 250, 230, 0));
    painter.fillRect(frame, light);

    const int boxWidth = frame.width() / 7;
    const int boxHeight = frame.height() / 6;
    for (int column = 0; column < 5; ++column) {
        for (int level = 0; level < 3; ++level) {
            const QRect box(frame.left() + boxWidth / 2 + column * (boxWidth + boxWidth / 12),
                            floor.top() + floor.height() / 3 - (level + 1) * boxHeight, boxWidth,
                            boxHeight);
            QLinearGradient card(box.topLeft(), box.bottomRight());
            card.setColorAt(0, QColor(196, 150, 100));
            card.setColorAt(1, QColor(150, 105, 65));
            painter.fillRect(box, card);
            painter.setPen(QPen(QColor(90, 60, 35), 3));
            painter.drawRect(box);
            const QRect label(box.center().x() - boxWidth / 4, box.top() + boxHeight / 4,
                              boxWidth / 2, boxHeight / 3);
            painter.fillRect(label, QColor(245, 245, 240));
            painter.setPen(QColor(40, 40, 40));
            painter.drawText(
                label, Qt::AlignCenter,
                QStringLiteral("BF %1").arg(column * 3 + level + 1, 2, 10, QLatin1Char('0')));
        }
    }
}

// The reference strip a scanner operator lays beside a colour original.
void DrawColourStrip(Sheet& sheet) {
    const QColor colours[] = {Qt::red,     Qt::green,  Qt::blue,  Qt::cyan,
                              Qt::magenta, Qt::yellow, Qt::black, Qt::white};
    const char* names[] = {"Red", "Green", "Blue", "Cyan", "Magenta", "Yellow", "Black", "White"};
    const int patch = Sheet::Mm(kTextWidthMm / 8);
    QPainter& painter = sheet.painter();
    painter.setFont(sheet.Font(8));
    for (int i = 0; i < 8; ++i) {
        const QRect square(sheet.left() + i * patch, sheet.y(), patch, Sheet::Mm(12));
        painter.fillRect(square, colours[i]);
        painter.setPen(Qt::black);
        painter.drawRect(square);
        painter.drawText(square.translated(0, Sheet::Mm(12)), Qt::AlignHCenter | Qt::AlignTop,
                         QString::fromUtf8(names[i]));
    }
    sheet.Skip(22);
}

Page PhotographPage() {
    Sheet sheet(PageKind::Colour, 3, 3);
    Letterhead(sheet);
    sheet.Line(QStringLiteral("Photograph of the delivery"), 14, true);
    sheet.Skip(4);
    const QRect frame(sheet.left(), sheet.y(), sheet.width(), Sheet::Mm(120));
    sheet.painter().setFont(sheet.Font(9, true));  // for the box labels
    DrawPhotograph(sheet.painter(), frame);
    sheet.Skip(124);
    sheet.Paragraph(
        QStringLiteral(
            "Fig. 1 \u2014 Archive boxes BF 01 to BF 15 of the 24 returned to Records Room B of "
            "Bramley & Finch Solicitors, 4 April 2023. Photograph: Northgate Records Management."),
        10);
    sheet.Skip(6);
    sheet.Line(QStringLiteral("Colour reference"), 10, true);
    sheet.Skip(1);
    DrawColourStrip(sheet);
    return sheet.Finish();
}

struct Sample {
    const char* fileName;
    std::vector<Page> (*draw)();
};

const Sample kSamples[] = {
    {"Sample Letter.mdi",
     [] {
         return std::vector<Page>{LetterPage(), RetentionSchedulePage()};
     }},
    {"Sample Invoice.mdi",
     [] {
         return std::vector<Page>{InvoicePage(), DeliveryNotePage(), PhotographPage()};
     }},
};

bool LoadFonts() {
    const QString folder = QStringLiteral("/usr/share/fonts/truetype/liberation/");
    return QFontDatabase::addApplicationFont(folder + "LiberationSans-Regular.ttf") >= 0 &&
           QFontDatabase::addApplicationFont(folder + "LiberationSans-Bold.ttf") >= 0;
}

}  // namespace
}  // namespace vellumax::samples

int main(int argc, char* argv[]) {
    using namespace vellumax::samples;
    // The build runs this program, usually without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_samples OUTPUT_FOLDER\n");
        return 2;
    }
    if (!LoadFonts()) {
        std::fprintf(stderr,
                     "make_samples: Liberation Sans is missing (install fonts-liberation)\n");
        return 1;
    }
    const QString folder = QFile::decodeName(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "make_samples: cannot create %s\n", argv[1]);
        return 1;
    }
    for (const Sample& sample : kSamples) {
        const QString error =
            WriteDocument(folder + '/' + QString::fromUtf8(sample.fileName), sample.draw(), kDpi);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "make_samples: %s\n", qPrintable(error));
            return 1;
        }
    }
    return 0;
}
