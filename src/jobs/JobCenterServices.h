#pragma once

#include "jobs/FeedbackSound.h"

namespace qv {

class Job;

// What the job centre asks of the pills, the tray icon, the sounds and the notifications.
// Each does nothing until its subsystem puts a real one in place.
class JobPresenter {
public:
    virtual ~JobPresenter() = default;
    virtual void show(Job&) {}
    virtual void remove(Job&) {}
    virtual void jobFinished(Job&) {}
};

class StatusIndicator {
public:
    virtual ~StatusIndicator() = default;
    virtual void updateIcon() {}
};

class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual void play(FeedbackSound) {}
};

class JobNotifier {
public:
    virtual ~JobNotifier() = default;
    virtual void postJobFinished(Job&) {}
};

} // namespace qv
