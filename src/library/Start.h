#pragma once
#include <string>

#include <QDialog>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include "app/Core.h"

namespace quendo {

// A label that opens an address: red while the left button is down, blue again on release,
// and then the address with "?s" and the library's file count.
class LinkLabel : public QLabel {
public:
    LinkLabel(Core& core, const QString& caption, std::string address, QWidget* parent);
    const std::string& address() const { return address_; }

protected:
    void mousePressEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    void SetColour(const char* colour);
    Core& core_;
    std::string address_;
    bool pressed_ = false;
};

// The splash screen: a disc with a hole, host of the start-up sequence and the About box.
class TSplash : public QDialog {
    Q_OBJECT
public:
    explicit TSplash(Core& core, QWidget* parent = nullptr);

    Core& core;
    QLabel* Label1;  // product name
    QLabel* Label2;  // maker's name
    QLabel* Label3;  // "FREE"
    QLabel* Label4;  // "Loading ..."
    QLabel* Label5;  // credits, left
    QLabel* Label13; // credits, right
    LinkLabel* Comments;
    QLabel* Label6;
    QLabel* Label8;
    LinkLabel* Label7;
    QLabel* Label9;
    QLabel* Label11;
    LinkLabel* Label10;
    QLabel* Label12;  // version
    QLabel* Label14;  // the terms the program is given under
    QPushButton* Button1;
    QTimer* Timer1;  // the start-up sequence, once
    QTimer* Timer2;  // the slide-out, one step every 5 ms

    int CentredTop = 0;

    // The start-up showing: modal, the sequence runs in the first tick.
    void ShowStartup();
    // The About showing: modal, "OK" waits for the user.
    void ShowAbout();
    // What the start-up sequence asks of the splash screen.
    void HideSplash() { hide(); }
    void StartSlideOut() { Timer2->start(); }
    void CloseSplash();

    void Timer1Timer();
    void Timer2Timer();
    void Button1Click();

    // The disc artwork, drawn once.
    static QPixmap DrawDisc(QSize size);

signals:
    // The start-up sequence has run: the main window may show its new counts.
    void startupFinished();

protected:
    void showEvent(QShowEvent*) override;
    void paintEvent(QPaintEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void closeEvent(QCloseEvent*) override;

private:
    void Finish();
    QPixmap disc_;
    bool sequenceRun_ = false;
    bool closing_ = false;
};

}  // namespace quendo
