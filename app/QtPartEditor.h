// The part editor: a dialog opened from the Files page for one file. It shows the file's
// waveform with the part shaded, the duration and the part's start, end and length, and lets the
// user set the part by dragging its edges, by typing start and length, and by listening:
// "Play part" plays only the part, over and over until stopped.
#pragma once

#include <QDialog>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "sources/part_edit.h"
#include "sources/part_marker.h"
#include "sources/peak_scan.h"

class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;

namespace tolvane::wizard {

class QtWaveformView;

class QtPartEditor : public QDialog {
    Q_OBJECT
public:
    // Edits a copy of `entry`'s part; whoever opened the editor takes part() when it is
    // accepted. `player` is asked for the player when "Play part" is first pressed.
    QtPartEditor(const FileEntry& entry, std::function<pages::MarkerPlayer&()> player,
                 QWidget* parent = nullptr);
    ~QtPartEditor() override;

    const pages::PartEdit& part() const { return edit_; }
    bool looping() const { return looping_; }
    bool waveformReady() const;

    QtWaveformView* waveform() const { return wave_; }
    QSpinBox* startBox() const { return start_; }
    QSpinBox* lengthBox() const { return length_; }
    QPushButton* playButton() const { return play_; }
    QLabel* timesLabel() const { return times_; }

    // "Play part" / "Stop".
    void togglePlay();
    // The loop's beat: moves the play line and starts the part again at its end.
    void followPlayback();

    void done(int result) override;

private:
    void startScan();
    void showPart();
    void startLoop();
    void stopLoop();

    FileEntry entry_;
    pages::PartEdit edit_;
    std::function<pages::MarkerPlayer&()> playerSource_;
    pages::MarkerPlayer* player_ = nullptr;
    bool looping_ = false;
    bool showing_ = false;  // the spin boxes are being set from the part

    std::thread scanner_;
    std::shared_ptr<std::atomic<bool>> cancelScan_ = std::make_shared<std::atomic<bool>>(false);

    QtWaveformView* wave_ = nullptr;
    QLabel* duration_ = nullptr;
    QLabel* times_ = nullptr;
    QSpinBox* start_ = nullptr;
    QSpinBox* length_ = nullptr;
    QPushButton* play_ = nullptr;
    QTimer* loopTimer_ = nullptr;
};

}  // namespace tolvane::wizard
