// The "Properties" of a decoded window: what its bitstream needs of a receiver (picture format
// and size, annexes, pictures by type, bitrate at the window's frame rate, profile and level),
// one row a fact.
#pragma once

#include <QDialog>

#include "StreamInfo.h"

class QFormLayout;

namespace tessaro::shell {

class StreamPropertiesDialog : public QDialog {
    Q_OBJECT
  public:
    StreamPropertiesDialog(const QString& name, const StreamInfo& info, double frameRate, QWidget* parent);
    // Recomputes the rate-dependent rows (bitrate, level) for the window's new frame rate.
    void SetFrameRate(double frameRate);
    // The value of the row called `name` ("Profile", "Level", ...), empty when there is none.
    QString Value(const QString& name) const;

  private:
    void Fill();
    StreamInfo info_;
    double frameRate_;
    QFormLayout* form_;
};

}  // namespace tessaro::shell
