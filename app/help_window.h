// The help window: shows help.rtf, read from the first of the given folders that has it.
#pragma once

#include <QStringList>
#include <QWidget>

class QPushButton;
class QTextEdit;

namespace app {

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    HelpWindow(const QStringList& folders, QWidget* parent = nullptr);

    QTextEdit* RichTextBox1 = nullptr;
    QPushButton* Command1 = nullptr; // "Close"

    // The file shown, or empty when none could be read.
    QString ShownFile() const { return shownFile_; }

private:
    void load(const QStringList& folders);

    QString shownFile_;
};

} // namespace app
