#include "app/help_window.h"

#include "app/rtf_reader.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

namespace app {
namespace {

void fill(QTextEdit* edit, const RtfDocument& doc) {
    edit->clear();
    QTextCursor cursor(edit->document());
    bool first = true;
    for (const RtfParagraph& paragraph : doc.paragraphs) {
        if (!first) {
            cursor.insertBlock();
        }
        first = false;
        for (const RtfRun& run : paragraph.runs) {
            QTextCharFormat format;
            format.setFontWeight(run.bold ? QFont::Bold : QFont::Normal);
            format.setFontItalic(run.italic);
            format.setFontUnderline(run.underline);
            format.setFontPointSize(run.fontSizeHalfPoints / 2.0);
            QString text =
                QString::fromUtf8(run.text.data(), static_cast<qsizetype>(run.text.size()));
            text.replace(QLatin1Char('\n'), QChar::LineSeparator);
            cursor.insertText(text, format);
        }
    }
    edit->moveCursor(QTextCursor::Start);
}

} // namespace

HelpWindow::HelpWindow(const QStringList& folders, QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("Help"));
    setWindowTitle(QStringLiteral("HELP"));
    setAttribute(Qt::WA_DeleteOnClose); // Close discards it; the next Help click makes a new one
    RichTextBox1 = new QTextEdit(this);
    RichTextBox1->setObjectName(QStringLiteral("RichTextBox1"));
    RichTextBox1->setReadOnly(true);
    RichTextBox1->setTabStopDistance(
        RichTextBox1->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 3);
    Command1 = new QPushButton(QStringLiteral("Close"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    connect(Command1, &QPushButton::clicked, this, &QWidget::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(RichTextBox1);
    layout->addWidget(Command1, 0, Qt::AlignRight);
    resize(640, 560);
    load(folders);
}

void HelpWindow::load(const QStringList& folders) {
    QStringList tried;
    for (const QString& folder : folders) {
        const QString path = QDir(folder).filePath(QStringLiteral("help.rtf"));
        QFile file(path);
        if (!file.exists()) {
            tried << QStringLiteral("%1: not found").arg(QDir::toNativeSeparators(path));
            continue;
        }
        if (!file.open(QIODevice::ReadOnly)) {
            tried << QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path),
                                                  file.errorString());
            continue;
        }
        const QByteArray bytes = file.readAll();
        std::string error;
        const auto doc = ReadRtf(
            std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), &error);
        if (!doc) {
            tried << QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path),
                                                  QString::fromStdString(error));
            continue;
        }
        fill(RichTextBox1, *doc);
        shownFile_ = path;
        return;
    }
    RichTextBox1->setPlainText(QStringLiteral("The help text (help.rtf) could not be shown. "
                                              "It was looked for here:\n\n") +
                               tried.join(QLatin1Char('\n')));
}

} // namespace app
