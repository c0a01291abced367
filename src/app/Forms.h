#pragma once
#include <QDialog>
#include <QWidget>

#include "app/Core.h"

namespace quendo {

// Forms that are still bare windows with their captions.

class TSplash : public QDialog {
public:
    TSplash(Core& core, QWidget* parent = nullptr);
    Core& core;
};

class TBrowse : public QDialog {
public:
    TBrowse(Core& core, QWidget* parent = nullptr);
    Core& core;
};

class TSettings : public QWidget {
public:
    TSettings(Core& core, QWidget* parent = nullptr);
    Core& core;
};

class TMixEditor : public QWidget {
public:
    TMixEditor(Core& core, QWidget* parent = nullptr);
    Core& core;
};

class TfrmNameMusCoc : public QDialog {
public:
    TfrmNameMusCoc(Core& core, QWidget* parent = nullptr);
    Core& core;
};

class TWelcome : public QWidget {
public:
    TWelcome(Core& core, QWidget* parent = nullptr);
    Core& core;
};

}  // namespace quendo
