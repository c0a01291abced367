#pragma once
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "cocktail/RecipeEditor.h"

namespace quendo {

// The rename dialog of the cocktail page: a new name for the edited cocktail.
class TfrmNameMusCoc : public QDialog {
public:
    // The configuration file reads back names of this many characters; a longer one would
    // come back cut after a restart.
    static constexpr int kMaxNameLength = 255;

    explicit TfrmNameMusCoc(RecipeEditor& editor, QWidget* parent = nullptr);

    // Shows the dialog modally over the edited cocktail's name; true when OK renamed it.
    bool Open();
    // The edit field takes the edited cocktail's name and the dialog its place on the desktop.
    void FormShow();

    QLabel* Label1;
    QLineEdit* Edit1;
    QPushButton* Button1;  // OK
    QPushButton* Button2;  // Cancel

    void accept() override;

private:
    RecipeEditor& editor_;
};

}  // namespace quendo
