#pragma once
#include <array>
#include <functional>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QWidget>

#include "cocktail/RecipeEditor.h"
#include "cocktail/Namemuscoc.h"

namespace quendo {

// A filled rectangle or ellipse with an outline: the pieces of the glasses and the pipes.
class ShapePiece : public QWidget {
public:
    enum class Form { Rectangle, Ellipse };
    ShapePiece(Form form, QColor fill, QColor outline, QWidget* parent);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    Form form_;
    QColor fill_;
    QColor outline_;
};

// A parts field: 0..10 by its arrows and the arrow keys; with typing on, any text may be typed,
// reading as its number held in 0..10 (0 for no number) and shown so once the focus leaves.
class PartsSpinEdit : public QSpinBox {
public:
    PartsSpinEdit(bool typing, QWidget* parent);

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    int valueFromText(const QString& text) const override;
    void keyPressEvent(QKeyEvent*) override;
    void wheelEvent(QWheelEvent*) override;

private:
    bool typing_;
};

// The "Musical cocktail" page of the settings form: three glasses standing on their parts
// fields, pipes from each taking part down into the cocktail list, and the rename button.
class TCocktailPage : public QWidget {
    Q_OBJECT
public:
    // The settings form's pages are 402 x 321 with the tab bar.
    static constexpr int kFormPageWidth = 402;
    static constexpr int kFormPageHeight = 321;

    TCocktailPage(RecipeEditor& editor, TfrmNameMusCoc& renameDialog,
                  std::function<void(QPoint)> openRootFolderMenu, QWidget* parent = nullptr);

    // Copies the editor's state into the widgets; called after every event that may change it.
    void Render();

    std::array<QComboBox*, 3> KindBoxes;         // ComboBox1..3
    std::array<QLabel*, 3> FolderLabels;         // Label8..10
    std::array<QLabel*, 3> NoFilesLabels;        // "holds no music files", under each folder's name
    QCheckBox* chkCocktailSubfolders;
    std::array<PartsSpinEdit*, 3> CSpinEdits;    // CSpinEdit1..3
    std::array<std::vector<ShapePiece*>, 3> Pipes;  // each ingredient's pipe pieces
    QLabel* Label7;
    QComboBox* ComboBox4;
    QPushButton* Button1;

signals:
    // The page changed what the main window shows (a rename).
    void edited();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildGlass(int k);
    void BuildPipes();
    void PartsChanged(std::size_t k, int value);

    RecipeEditor& editor_;
    TfrmNameMusCoc& renameDialog_;
    std::function<void(QPoint)> openRootFolderMenu_;
};

}  // namespace quendo
