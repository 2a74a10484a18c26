#include "oemtest/ThroughputChart.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMargin = 6;
constexpr int kAxisWidth = 56;
constexpr std::size_t kMinSpan = 20;

QColor SeriesColour(int index)
{
    static const QColor colours[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28), QColor(0x2c, 0xa0, 0x2c),
                                     QColor(0xff, 0x7f, 0x0e), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b)};
    return colours[index % std::size(colours)];
}

}  // namespace

ThroughputChart::ThroughputChart(const QString& unit, const QStringList& series, QWidget* parent)
    : QWidget(parent), m_unit(unit), m_series(series), m_samples(static_cast<std::size_t>(series.size()))
{
    setMinimumHeight(110);
}

void ThroughputChart::AddSample(const std::vector<double>& values)
{
    for (std::size_t i = 0; i < m_samples.size() && i < values.size(); ++i) {
        m_samples[i].push_back(values[i]);
        if (m_samples[i].size() > kMaxSamples) {
            m_samples[i].pop_front();
        }
    }
    update();
}

double ThroughputChart::Top() const
{
    double top = 0;
    for (const std::deque<double>& series : m_samples) {
        for (const double value : series) {
            top = std::max(top, value);
        }
    }
    // A round figure a little above the highest value.
    if (top <= 0) {
        return 1;
    }
    const double step = std::pow(10.0, std::floor(std::log10(top)));
    return std::ceil(top * 1.1 / step) * step;
}

void ThroughputChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    const int legendHeight = fontMetrics().height() + 2;
    // Half a line between the unit and legend row and the plot, so the scale's top figure stands clear of it.
    const int plotTop = kMargin + legendHeight + legendHeight / 2;
    const QRect plot(kAxisWidth, plotTop, width() - kAxisWidth - kMargin, height() - kMargin - plotTop);
    painter.setPen(Qt::lightGray);
    painter.drawRect(plot);
    const double top = Top();
    painter.setPen(Qt::black);
    painter.drawText(QRect(0, plot.top(), kAxisWidth - 4, legendHeight), Qt::AlignRight | Qt::AlignTop,
                     QString::number(top, 'g', 3));
    painter.drawText(QRect(0, plot.bottom() - legendHeight, kAxisWidth - 4, legendHeight),
                     Qt::AlignRight | Qt::AlignBottom, "0");
    painter.drawText(kMargin, kMargin + fontMetrics().ascent(), m_unit);

    int legendX = std::max(kAxisWidth, 2 * kMargin + fontMetrics().horizontalAdvance(m_unit));
    painter.setRenderHint(QPainter::Antialiasing);
    for (std::size_t s = 0; s < m_samples.size(); ++s) {
        const QColor colour = SeriesColour(static_cast<int>(s));
        painter.setPen(QPen(colour, 2));
        const QString& name = m_series[static_cast<int>(s)];
        painter.drawLine(legendX, kMargin + legendHeight / 2, legendX + 14, kMargin + legendHeight / 2);
        painter.drawText(legendX + 18, kMargin + fontMetrics().ascent(), name);
        legendX += 30 + fontMetrics().horizontalAdvance(name);
        const std::deque<double>& series = m_samples[s];
        // A young run spreads over part of the width; an old one scrolls.
        const double span = static_cast<double>(std::clamp<std::size_t>(series.size(), kMinSpan, kMaxSamples) - 1);
        QPainterPath path;
        for (std::size_t i = 0; i < series.size(); ++i) {
            const double x = plot.right() - static_cast<double>(series.size() - 1 - i) * plot.width() / span;
            const double y = plot.bottom() - series[i] / top * plot.height();
            i == 0 ? path.moveTo(x, y) : path.lineTo(x, y);
            // A run shorter than two samples still shows its rate.
            painter.drawEllipse(QPointF(x, y), 2, 2);
        }
        painter.drawPath(path);
    }
}
