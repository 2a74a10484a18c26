#pragma once

#include <QWidget>

// Questions and answers on firmware download, from the resource library.
class CFirmwareFAQ : public QWidget {
    Q_OBJECT
public:
    explicit CFirmwareFAQ(QWidget* parent = nullptr);
};
