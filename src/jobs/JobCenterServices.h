#pragma once

#include "jobs/FeedbackSound.h"

#include <memory>

namespace qv {

class Job;
using JobPtr = std::shared_ptr<Job>;

// What the job centre asks of the pills, the tray icon, the sounds and the notifications.
// Each does nothing until its subsystem puts a real one in place.
class JobPresenter {
public:
    virtual ~JobPresenter() = default;
    virtual void show(const JobPtr&) {}
    virtual void remove(const JobPtr&) {}
    virtual void jobFinished(const JobPtr&) {}
    // A desktop notification tells of the job: it stands for the job's pill, and the pills make
    // room for it.
    virtual void notificationPosted(const JobPtr&) {}
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
    virtual void postJobFinished(const JobPtr&) {}
};

} // namespace qv
