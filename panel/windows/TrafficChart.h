#pragma once

#include <QChartView>
#include <QColor>

class QLineSeries;
class QScatterSeries;
class QValueAxis;

namespace panel {

// The live traffic chart: two lines of 60 points each (incoming, outgoing),
// a ring overwritten in place; the newest point of each is marked white.
class TrafficChart : public QChartView {
    Q_OBJECT
public:
    TrafficChart(const QColor& incoming, const QColor& outgoing, QWidget* parent = nullptr);

    // The newest second at position (1..60), marked white; the point marked
    // before becomes an ordinary one.
    void SetNewest(int position, double incomingKb, double outgoingKb);

    QLineSeries* Series(int index) const { return index == 0 ? incoming_ : outgoing_; }
    // Where the white mark is, 1..60.
    int NewestPosition() const;

private:
    void Rescale();

    QLineSeries* incoming_;
    QLineSeries* outgoing_;
    QScatterSeries* newest_;
    QValueAxis* axis_;
};

}  // namespace panel
