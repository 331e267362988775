#include "platform/wayland/DataControlClipboard.h"

#include "model/Log.h"

#include <QAbstractEventDispatcher>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QHash>
#include <QMimeData>
#include <qpa/qplatformnativeinterface.h>

#include <wayland-client.h>

#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace qv {

namespace {

constexpr const char* managerInterface = "zwlr_data_control_manager_v1";
// A list of files is small; anything near this is not one.
constexpr qsizetype maxFormatBytes = 16 * 1024 * 1024;
// How long an owner may take to hand over one format.
constexpr int answerMs = 1500;

QStringList textVariants()
{
    return {QStringLiteral("text/plain;charset=utf-8"), QStringLiteral("UTF8_STRING"),
            QStringLiteral("text/plain")};
}

} // namespace

struct DataControlClipboard::State {
    wl_display* display = nullptr;
    wl_event_queue* queue = nullptr;
    wl_seat* seat = nullptr;
    zwlr_data_control_manager_v1* manager = nullptr;
    uint32_t managerVersion = 0;
    zwlr_data_control_device_v1* device = nullptr;
    // Every offer announced and not yet dropped, with the formats it offers.
    QHash<zwlr_data_control_offer_v1*, QStringList> offers;
    zwlr_data_control_offer_v1* clipboard = nullptr;
    zwlr_data_control_offer_v1* primary = nullptr;
    std::unique_ptr<QMimeData> read;

    void dropUnused(zwlr_data_control_offer_v1* offer)
    {
        if (offer && offer != clipboard && offer != primary && offers.remove(offer))
            zwlr_data_control_offer_v1_destroy(offer);
    }

    void setSelection(zwlr_data_control_offer_v1*& slot, zwlr_data_control_offer_v1* offer)
    {
        zwlr_data_control_offer_v1* old = slot;
        slot = offer;
        dropUnused(old);
    }

    zwlr_data_control_offer_v1* offerFor(ClipboardReader::Selection selection) const
    {
        return selection == ClipboardReader::Selection::primary ? primary : clipboard;
    }

    // Brings the events the compositor has sent up to now.
    void catchUp()
    {
        if (device)
            wl_display_roundtrip_queue(display, queue);
    }

    // One format's bytes from the offer's owner, or nothing when it does not answer in time,
    // fails, or sends too much.
    std::optional<QByteArray> receive(zwlr_data_control_offer_v1* offer, const QString& format)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return std::nullopt;
        // Only our end waits for nothing: the owner writes as it would to any pipe.
        if (::fcntl(fds[0], F_SETFL, O_NONBLOCK) != 0) {
            ::close(fds[0]);
            ::close(fds[1]);
            return std::nullopt;
        }
        zwlr_data_control_offer_v1_receive(offer, format.toUtf8().constData(), fds[1]);
        ::close(fds[1]);
        wl_display_flush(display);
        QByteArray bytes;
        const QDeadlineTimer deadline(answerMs);
        bool complete = false;
        while (!deadline.hasExpired()) {
            pollfd poller{fds[0], POLLIN, 0};
            const int ready = ::poll(&poller, 1, int(std::max<qint64>(1, deadline.remainingTime())));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                break;
            char buffer[65536];
            const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (got < 0)
                break;
            if (got == 0) {
                complete = true;
                break;
            }
            if (bytes.size() + got > maxFormatBytes)
                break;
            bytes.append(buffer, got);
        }
        ::close(fds[0]);
        if (!complete) {
            qCWarning(appLog, "The clipboard's owner did not hand over %s", qUtf8Printable(format));
            return std::nullopt;
        }
        return bytes;
    }

    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t version)
    {
        auto* self = static_cast<State*>(data);
        if (std::strcmp(interface, managerInterface) == 0 && !self->manager) {
            self->managerVersion = std::min<uint32_t>(version, 2);
            self->manager = static_cast<zwlr_data_control_manager_v1*>(
                wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, self->managerVersion));
        } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->seat) {
            self->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        }
    }
    static void globalRemove(void*, wl_registry*, uint32_t) {}

    static void offered(void* data, zwlr_data_control_offer_v1* offer, const char* mimeType)
    {
        auto* self = static_cast<State*>(data);
        auto it = self->offers.find(offer);
        if (it != self->offers.end())
            it->append(QString::fromUtf8(mimeType));
    }

    static void dataOffer(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer)
    {
        auto* self = static_cast<State*>(data);
        self->offers.insert(offer, {});
        zwlr_data_control_offer_v1_add_listener(offer, &offerListener, self);
    }
    static void selection(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer)
    {
        auto* self = static_cast<State*>(data);
        self->setSelection(self->clipboard, offer);
    }
    static void primarySelection(void* data, zwlr_data_control_device_v1*,
                                 zwlr_data_control_offer_v1* offer)
    {
        auto* self = static_cast<State*>(data);
        self->setSelection(self->primary, offer);
    }
    static void finished(void* data, zwlr_data_control_device_v1* device)
    {
        auto* self = static_cast<State*>(data);
        qCInfo(appLog, "The compositor took back the clipboard's data control");
        self->setSelection(self->clipboard, nullptr);
        self->setSelection(self->primary, nullptr);
        zwlr_data_control_device_v1_destroy(device);
        self->device = nullptr;
    }

    static constexpr wl_registry_listener registryListener{&global, &globalRemove};
    static constexpr zwlr_data_control_offer_v1_listener offerListener{&offered};
    static constexpr zwlr_data_control_device_v1_listener deviceListener{&dataOffer, &selection, &finished,
                                                                          &primarySelection};
};

DataControlClipboard* DataControlClipboard::shared()
{
    static DataControlClipboard* clipboard = [] {
        auto* made = new DataControlClipboard;
        if (made->d->device)
            return made;
        delete made;
        return static_cast<DataControlClipboard*>(nullptr);
    }();
    return clipboard && clipboard->d->device ? clipboard : nullptr;
}

DataControlClipboard::DataControlClipboard() : d(std::make_unique<State>())
{
    if (QGuiApplication::platformName() != QLatin1String("wayland"))
        return;
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    d->display = static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display"));
    if (!d->display)
        return;
    d->queue = wl_display_create_queue(d->display);
    auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(d->display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), d->queue);
    wl_registry* registry = wl_display_get_registry(wrapper);
    wl_proxy_wrapper_destroy(wrapper);
    wl_registry_add_listener(registry, &State::registryListener, d.get());
    wl_display_roundtrip_queue(d->display, d->queue);
    wl_registry_destroy(registry);
    if (!d->manager || !d->seat) {
        qCInfo(appLog, "The compositor offers no data control: what other programs copy is seen only "
                       "while a window of ours has the keyboard");
        return;
    }
    d->device = zwlr_data_control_manager_v1_get_data_device(d->manager, d->seat);
    zwlr_data_control_device_v1_add_listener(d->device, &State::deviceListener, d.get());
    // The current selections come at once.
    wl_display_roundtrip_queue(d->display, d->queue);
    // Each copy elsewhere announces an offer: taken whenever the main loop is about to wait,
    // so they never pile up.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
        State* state = d.get();
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, qApp, [state] {
            if (state->device)
                wl_display_dispatch_queue_pending(state->display, state->queue);
        });
    }
}

DataControlClipboard::~DataControlClipboard() = default;

QStringList DataControlClipboard::formats(ClipboardReader::Selection selection)
{
    d->catchUp();
    zwlr_data_control_offer_v1* offer = d->offerFor(selection);
    return offer ? d->offers.value(offer) : QStringList{};
}

const QMimeData* DataControlClipboard::contents(ClipboardReader::Selection selection,
                                                const QStringList& formats)
{
    d->catchUp();
    zwlr_data_control_offer_v1* offer = d->offerFor(selection);
    if (!offer)
        return nullptr;
    const QStringList offered = d->offers.value(offer);
    auto data = std::make_unique<QMimeData>();
    bool any = false;
    for (const QString& format : formats) {
        QString source = format;
        if (format == QLatin1String("text/plain")) {
            // The first of its variants that the owner offers.
            source.clear();
            for (const QString& variant : textVariants()) {
                if (offered.contains(variant)) {
                    source = variant;
                    break;
                }
            }
        }
        if (source.isEmpty() || !offered.contains(source))
            continue;
        const std::optional<QByteArray> bytes = d->receive(offer, source);
        if (!bytes)
            break; // an owner that did not answer will not answer the next one either
        data->setData(format, *bytes);
        any = true;
    }
    if (!any)
        return nullptr;
    d->read = std::move(data);
    return d->read.get();
}

} // namespace qv
