#include "panel/windows/TrafficChart.h"

#include "panel/core/TrafficStats.h"

#include <QChart>
#include <QLineSeries>
#include <QScatterSeries>
#include <QPen>
#include <QValueAxis>

#include <algorithm>

namespace panel {

namespace {

QLineSeries* MakeSeries(const QColor& colour)
{
    auto* series = new QLineSeries;
    QPen pen(colour);
    pen.setWidth(2);
    series->setPen(pen);
    series->setPointsVisible(false);
    for (int k = 1; k <= panel::TrafficStats::kPoints; ++k)
        series->append(k, 0);
    return series;
}

}  // namespace

TrafficChart::TrafficChart(const QColor& incoming, const QColor& outgoing, QWidget* parent)
    : QChartView(parent), incoming_(MakeSeries(incoming)), outgoing_(MakeSeries(outgoing)), newest_(new QScatterSeries),
      axis_(new QValueAxis)
{
    auto* chart = new QChart;
    chart->legend()->hide();
    chart->setBackgroundBrush(QColor(0, 0, 0));
    chart->setMargins(QMargins(2, 4, 4, 2));
    chart->setBackgroundRoundness(0);
    chart->addSeries(incoming_);
    chart->addSeries(outgoing_);
    // The newest second of both lines, marked white.
    newest_->setColor(QColor(255, 255, 255));
    newest_->setBorderColor(QColor(255, 255, 255));
    newest_->setMarkerSize(7);
    newest_->append(1, 0);
    newest_->append(1, 0);
    chart->addSeries(newest_);
    // Only the left axis, with lime labels and dotted lines.
    const QColor lime(0, 255, 0);
    axis_->setLabelFormat("%.1f");
    axis_->setLabelsColor(lime);
    axis_->setLinePenColor(lime);
    QPen grid(lime);
    grid.setStyle(Qt::DotLine);
    axis_->setGridLinePen(grid);
    axis_->setRange(0, 1);
    axis_->setTickCount(3);
    auto* x = new QValueAxis;
    x->setRange(1, panel::TrafficStats::kPoints);
    x->setVisible(false);
    chart->addAxis(axis_, Qt::AlignLeft);
    chart->addAxis(x, Qt::AlignBottom);
    for (QXYSeries* series : std::initializer_list<QXYSeries*> {incoming_, outgoing_, newest_}) {
        series->attachAxis(axis_);
        series->attachAxis(x);
    }
    setChart(chart);
    setRenderHint(QPainter::Antialiasing);
}

void TrafficChart::SetNewest(int position, double incomingKb, double outgoingKb)
{
    incoming_->replace(position - 1, position, incomingKb);
    outgoing_->replace(position - 1, position, outgoingKb);
    newest_->replace(0, position, incomingKb);
    newest_->replace(1, position, outgoingKb);
    Rescale();
}

int TrafficChart::NewestPosition() const { return static_cast<int>(newest_->at(0).x()); }

void TrafficChart::Rescale()
{
    double top = 1;
    for (QLineSeries* series : {incoming_, outgoing_})
        for (const QPointF& point : series->points())
            top = std::max(top, point.y());
    axis_->setRange(0, top * 1.1);
}

}  // namespace panel
