#pragma once
#include <functional>
#include <string>

#include <QCheckBox>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#include "model/Options.h"

namespace quendo {

// The welcome dialog: banner, description, two notes on using the menus, and the box that
// keeps it from coming up at the next start.
class TWelcome : public QWidget {
public:
    // `options.CheckBox1` is the box; `openHelp` opens the help page; `version` reads like "1.10".
    TWelcome(Options& options, std::function<void()> openHelp, std::string version,
             QWidget* parent = nullptr);

    QLabel* Image1;          // banner
    QPlainTextEdit* Memo1;   // description, read-only
    QPlainTextEdit* Memo2;   // notes, editable but never kept
    QCheckBox* CheckBox1;    // "Don't show me this again"
    QPushButton* BitBtn2;    // Help
    QPushButton* BitBtn1;    // OK

    // Shows the box as the options hold it (they may have been read back from the file).
    void Render();

    void BitBtn1Click() { hide(); }
    void BitBtn2Click();
    void CheckBox1Click(bool checked) { options_.CheckBox1 = checked; }

    static QString Description(const std::string& version);
    static QString Notes();
    // The banner artwork, drawn once.
    static QPixmap DrawBanner(QSize size);

protected:
    void showEvent(QShowEvent*) override;
    void closeEvent(QCloseEvent*) override;

private:
    Options& options_;
    std::function<void()> openHelp_;
};

}  // namespace quendo
