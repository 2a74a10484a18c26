#pragma once

#include <QWidget>

// A wizard page whose work comes in a later version of the program.
class PlaceholderPage : public QWidget {
    Q_OBJECT
public:
    PlaceholderPage(const QString& what, QWidget* parent = nullptr);
};
