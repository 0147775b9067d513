#include "extension/definition/time_values.h"

#include <Python.h>
#include <datetime.h>

#include <cmath>
#include <ctime>
#include <limits>
#include <optional>
#include <string_view>

#include "extension/binding/errors.h"

namespace quorvane::definition {
namespace {

using binding::PyRef;

PyObject* interned(const char* text) {
    // Kept for the life of the process, like the module's types.
    PyObject* name = PyUnicode_InternFromString(text);
    if (!name) binding::panic();
    return name;
}

PyRef strptime(PyObject* datetime_class, PyObject* text, const char* format) {
    static PyObject* const method = interned("strptime");
    PyRef format_text = binding::created(PyUnicode_FromString(format));
    PyObject* args[] = {datetime_class, text, format_text.get()};
    return PyRef::steal(
        PyObject_VectorcallMethod(method, args, 3, nullptr));
}

// CPython's _PyTime_Round with _PyTime_ROUND_HALF_EVEN.
double round_half_even(double x) {
    double rounded = std::round(x);
    if (std::fabs(x - rounded) == 0.5) rounded = 2.0 * std::round(x / 2.0);
    return rounded;
}

void import_datetime_api() {
    if (PyDateTimeAPI) return;
    PyDateTime_IMPORT;
    if (!PyDateTimeAPI) binding::throw_pending_error();
}

struct CivilDate {
    std::int64_t year;
    int month, day;
};

// The proleptic Gregorian date of a count of days since 1970-01-01, by
// whole 400-year eras (Howard Hinnant's days-to-civil).
CivilDate civil_from_days(std::int64_t days) {
    days += 719468;  // from 0000-03-01, so that a leap day ends each year
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto day_of_era = static_cast<unsigned>(days - era * 146097);
    const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned shifted_month = (5 * day_of_year + 2) / 153;  // March is 0
    const auto day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
    const auto month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
    return {static_cast<std::int64_t>(year_of_era) + era * 400 + (month <= 2), month, day};
}

struct DateTimeFields {
    int year, month, day, hour, minute, second, microsecond;
};

bool is_leap_year(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int days_in_month(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap_year(year) ? 29 : days[month - 1];
}

// The ASCII digits text[at, at + count) as a number, or -1.
int ascii_number(std::string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// The fields of a valid time in the spelling the exchange writes,
// 2021-03-18T13:20:00.000Z (one to six fraction digits) or
// 2021-03-18T13:20:00Z; strptime reads those to the same datetime. Any
// other text is left to strptime, which also accepts looser spellings and
// words its own errors.
std::optional<DateTimeFields> exchange_time_fields(std::string_view text) {
    if (text.size() < 20 || text.size() == 21 || text.size() > 27) return std::nullopt;
    if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':') return std::nullopt;
    if (text.back() != 'Z') return std::nullopt;
    DateTimeFields fields{ascii_number(text, 0, 4), ascii_number(text, 5, 2), ascii_number(text, 8, 2),
                          ascii_number(text, 11, 2), ascii_number(text, 14, 2), ascii_number(text, 17, 2), 0};
    if (fields.year < 1 || fields.month < 1 || fields.month > 12 || fields.day < 1 ||
        fields.day > days_in_month(fields.year, fields.month) || fields.hour < 0 || fields.hour > 23 ||
        fields.minute < 0 || fields.minute > 59 || fields.second < 0 || fields.second > 59) {
        return std::nullopt;
    }
    if (text.size() > 20) {
        const std::size_t digits = text.size() - 21;
        if (text[19] != '.') return std::nullopt;
        const int fraction = ascii_number(text, 20, digits);
        if (fraction < 0) return std::nullopt;
        fields.microsecond = fraction;
        for (std::size_t i = digits; i < 6; ++i) fields.microsecond *= 10;
    }
    return fields;
}

// gmtime's result, without its locking and time zone work: POSIX time has no
// leap seconds, and the years of an int64 of milliseconds fit an int.
PyRef utc_datetime(std::int64_t time, int microsecond) {
    const std::int64_t days = time / 86400 - (time % 86400 < 0);
    const auto second_of_day = static_cast<int>(time - days * 86400);
    const CivilDate date = civil_from_days(days);
    return binding::check(PyDateTime_FromDateAndTime(static_cast<int>(date.year), date.month, date.day,
                                                     second_of_day / 3600, second_of_day / 60 % 60,
                                                     second_of_day % 60, microsecond));
}

}  // namespace

PyRef definition_time_to_datetime(const std::optional<std::string>& text) {
    if (!text) return {};
    static PyObject* const module_name = interned("datetime");
    PyRef module = binding::check(PyImport_Import(module_name));
    PyRef datetime_class = binding::check(PyObject_GetAttr(module.get(), module_name));
    // strptime costs microseconds a call; for the datetime class itself and
    // a text in the exchange's spelling its result is known without it.
    import_datetime_api();
    if (datetime_class.get() == reinterpret_cast<PyObject*>(PyDateTimeAPI->DateTimeType)) {
        if (const auto fields = exchange_time_fields(*text)) {
            return binding::check(PyDateTime_FromDateAndTime(fields->year, fields->month, fields->day, fields->hour,
                                                             fields->minute, fields->second, fields->microsecond));
        }
    }
    PyRef value = binding::check(PyUnicode_FromStringAndSize(text->data(), static_cast<Py_ssize_t>(text->size())));
    if (PyRef result = strptime(datetime_class.get(), value.get(), "%Y-%m-%dT%H:%M:%S.%fZ")) return result;
    PyErr_Clear();
    return binding::check(strptime(datetime_class.get(), value.get(), "%Y-%m-%dT%H:%M:%SZ").release());
}

// utcfromtimestamp's own steps: split the float seconds with modf, round the
// fraction to microseconds half to even and carry, check the time_t range,
// then the UTC calendar date and the datetime's year range.
PyRef publish_time_to_datetime(std::int64_t milliseconds) {
    import_datetime_api();
    // Below 2^32 seconds a double is within 0.25 us of the true time, so the
    // steps below give exactly the whole seconds and the milliseconds' own
    // microseconds: integers alone give them faster.
    constexpr std::int64_t exact_below = std::int64_t{1000} << 32;
    if (milliseconds >= 0 && milliseconds < exact_below) {
        return utc_datetime(milliseconds / 1000, static_cast<int>(milliseconds % 1000) * 1000);
    }
    const double timestamp = static_cast<double>(milliseconds) / 1000.0;
    double seconds = 0.0;
    // volatile, as in CPython, so the compiler cannot fuse and change the rounding.
    volatile double fraction = std::modf(timestamp, &seconds);
    fraction = round_half_even(fraction * 1e6);
    if (fraction >= 1e6) {
        fraction = fraction - 1e6;
        seconds += 1.0;
    } else if (fraction < 0) {
        fraction = fraction + 1e6;
        seconds -= 1.0;
    }
    // An int64 count of milliseconds always fits; the check keeps the cast defined.
    constexpr double time_t_min = static_cast<double>(std::numeric_limits<std::time_t>::min());
    constexpr double time_t_max = static_cast<double>(std::numeric_limits<std::time_t>::max());
    if (!(time_t_min <= seconds && seconds < time_t_max)) {
        binding::throw_error(PyExc_OverflowError, "timestamp out of range for platform time_t");
    }
    return utc_datetime(static_cast<std::int64_t>(seconds), static_cast<int>(fraction));
}

}  // namespace quorvane::definition
