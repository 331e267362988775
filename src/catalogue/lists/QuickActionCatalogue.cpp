#include "catalogue/lists/QuickActionCatalogue.h"

namespace qv {

OperationDescriptor makeActionDescriptor(ActionKind kind, const QString& title,
                                         const QString& symbol)
{
    const QString name = toString(kind);
    const QList<FileCategory> every = allCases<FileCategory>();

    OperationDescriptor d;
    d.id = QStringLiteral("action.") + name.toLower();
    d.wheel = WheelKind::actions;
    d.group = name;
    d.title = title;
    d.symbol = symbol;
    d.categories = QSet<FileCategory>(every.begin(), every.end());
    d.accepts = OperationDescriptor::acceptEveryFile();
    d.multiFile = MultiFileMode::batch;
    d.minimumFiles = 1;
    d.behavior = OperationBehavior::actionOf(kind);
    d.engine = EngineID::of(EngineID::Kind::system);
    d.outputExtension = std::nullopt;
    d.lane = JobLane::cpu;
    d.verb = title;
    return d;
}

namespace {

// Sending goes through KDE Connect on Linux, hence the neutral title; without it installed the
// entry is left off the wheel, as a missing engine's entries are.
OperationDescriptor sendToDevice()
{
    OperationDescriptor d = makeActionDescriptor(ActionKind::sendToDevice, QStringLiteral("Send to Device"),
                                                 QStringLiteral("dot.radiowaves.up.forward"));
    d.engine = EngineID::of(EngineID::Kind::deviceSharing);
    return d;
}

} // namespace

const QList<OperationDescriptor>& quickActionDescriptors()
{
    static const QList<OperationDescriptor> list{
        sendToDevice(),
        makeActionDescriptor(ActionKind::float_, QStringLiteral("Float"), QStringLiteral("pip")),
        makeActionDescriptor(ActionKind::copy, QStringLiteral("Copy"), QStringLiteral("doc.on.doc")),
        makeActionDescriptor(ActionKind::move, QStringLiteral("Move"), QStringLiteral("folder")),
        makeActionDescriptor(ActionKind::copyPath, QStringLiteral("Copy Path"),
                             QStringLiteral("link")),
        makeActionDescriptor(ActionKind::terminal, QStringLiteral("Terminal"),
                             QStringLiteral("terminal")),
        makeActionDescriptor(ActionKind::share, QStringLiteral("Share"),
                             QStringLiteral("square.and.arrow.up")),
        makeActionDescriptor(ActionKind::preview, QStringLiteral("Preview"),
                             QStringLiteral("eye")),
    };
    return list;
}

} // namespace qv
