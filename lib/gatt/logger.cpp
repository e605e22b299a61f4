#include "gatt_internal.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

std::atomic<int> shownLevel{GATT_LOG_INFO};

const char* prefix(GattLogLevel level)
{
    switch (level) {
    case GATT_LOG_DEBUG: return "D";
    case GATT_LOG_INFO: return "I";
    case GATT_LOG_WARN: return "W";
    default: return "ERROR";
    }
}

} // namespace

void log_set_level(GattLogLevel level)
{
    shownLevel.store(level, std::memory_order_relaxed);
}

void log_log_at_level(GattLogLevel level, const char* tag, const char* format, ...)
{
    if (level < shownLevel.load(std::memory_order_relaxed)) return;
    // One printf per line, so that lines of the GLib thread and the others never interleave.
    std::string line = std::string(prefix(level)) + " (" + (tag ? tag : "") + "): ";
    va_list args;
    va_start(args, format);
    char* message = g_strdup_vprintf(format, args);
    va_end(args);
    line += message;
    g_free(message);
    line += '\n';
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

char* g_byte_array_as_hex(const GByteArray* bytes)
{
    static const char digits[] = "0123456789abcdef";
    guint length = bytes ? bytes->len : 0;
    char* text = static_cast<char*>(g_malloc(length * 2 + 1));
    for (guint i = 0; i < length; ++i) {
        text[2 * i] = digits[bytes->data[i] >> 4];
        text[2 * i + 1] = digits[bytes->data[i] & 0x0f];
    }
    text[length * 2] = '\0';
    return text;
}

void gatt_log_call_result(GObject* source, GAsyncResult* result, gpointer what)
{
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (reply) g_variant_unref(reply);
    if (error) {
        log_log_at_level(GATT_LOG_ERROR, "GATT", "%s failed: %s", static_cast<const char*>(what), error->message);
        g_error_free(error);
    }
}
