#include "platform/desktop/ReduceMotion.h"

#include "platform/desktop/TestHarness.h"

#include <QString>

#include <gio/gio.h>

namespace qv {

bool reduceMotion()
{
    if (qEnvironmentVariable("QUORVENDA_REDUCE_MOTION") == QLatin1String("1"))
        return true;
    if (isRunningTests())
        return false;
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source)
        return false;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE);
    if (!schema)
        return false;
    const bool hasKey = g_settings_schema_has_key(schema, "enable-animations");
    g_settings_schema_unref(schema);
    if (!hasKey)
        return false;
    GSettings* settings = g_settings_new("org.gnome.desktop.interface");
    const bool animations = g_settings_get_boolean(settings, "enable-animations");
    g_object_unref(settings);
    return !animations;
}

} // namespace qv
