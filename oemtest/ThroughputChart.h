#pragma once

#include <QStringList>
#include <QWidget>

#include <deque>
#include <vector>

// A live line chart of one rate per drive, newest sample at the right.
class ThroughputChart : public QWidget {
    Q_OBJECT
public:
    static constexpr std::size_t kMaxSamples = 120;

    ThroughputChart(const QString& unit, const QStringList& series, QWidget* parent = nullptr);

    // One value per series, in the order the series were named.
    void AddSample(const std::vector<double>& values);
    QSize sizeHint() const override { return {420, 150}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double Top() const;

    QString m_unit;
    QStringList m_series;
    std::vector<std::deque<double>> m_samples;
};
