#include "cocktail/Namemuscoc.h"

#include <QGuiApplication>
#include <QScreen>

#include "platform/qt/FitText.h"
#include "platform/qt/QtPlatform.h"

namespace quendo {

TfrmNameMusCoc::TfrmNameMusCoc(RecipeEditor& editor, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      editor_(editor) {
    setObjectName(QStringLiteral("frmNameMusCoc"));
    setWindowTitle(QStringLiteral("Rename"));
    setModal(true);
    setFixedSize(211, 74);
    QFont f = font();
    f.setPixelSize(11);
    setFont(f);

    Label1 = new QLabel(QStringLiteral("Enter a new name for this musical cocktail:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(1, 4, 209, 15);
    Label1->setAlignment(Qt::AlignCenter);
    FitTextToWidth(Label1, Label1->text(), Label1->width());

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(1, 21, 209, 21);
    Edit1->setMaxLength(kMaxNameLength);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(28, 47, 75, 24);
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(108, 47, 75, 24);
    // Enter belongs to OK alone, whichever control has the focus.
    Button2->setAutoDefault(false);
    Button1->setAutoDefault(false);

    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmNameMusCoc::FormShow() {
    Edit1->setText(QString::fromStdString(editor_.RenameDialogText()));
    Edit1->selectAll();
    Edit1->setFocus();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r(QPoint(0, 0), size());
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
}

bool TfrmNameMusCoc::Open() {
    FormShow();
    return exec() == QDialog::Accepted;
}

void TfrmNameMusCoc::accept() {
    Guarded([this] { editor_.RenameOk(Edit1->text().toStdString()); });
    QDialog::accept();
}

}  // namespace quendo
