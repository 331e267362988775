#include "jobs/ui/FeedbackServices.h"

#include "jobs/FeedbackSoundPlayer.h"
#include "jobs/Notifications.h"
#include "jobs/Toasts.h"
#include "jobs/ui/HUDToast.h"
#include "jobs/ui/JobHUD.h"
#include "platform/clipboard/Clipboard.h"
#include "platform/desktop/Workspace.h"

namespace qv {

void installFeedbackServices(JobCenter::Services services)
{
    static HUDToastPresenter toasts;
    services.presenter = &JobHUD::shared();
    services.sounds = &FeedbackSoundPlayer::shared();
    services.notifier = &Notifications::shared();
    if (!services.clipboard)
        services.clipboard = &Clipboard::system();
    if (!services.workspace)
        services.workspace = &Workspace::system();
    JobCenter::shared().setServices(services);
    setToastPresenter(&toasts);
}

} // namespace qv
