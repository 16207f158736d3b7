#ifndef VOVODO_CONSTANTS_H
#define VOVODO_CONSTANTS_H

// The scalar constants of the shared vocabulary (see vovodo_global.h). The
// logger needs only these, so they stand on their own.

#include <QString>

static const QString SUPER_USER_PIN = QStringLiteral("4817");
static const QString SUPER_USER = QStringLiteral("SUPER_USER");
static const QString SUPPORT_USER = QStringLiteral("support_user");
static const QString TIME_STAMP_FORMAT = QStringLiteral("yyyy-MM-dd hh:mm:ss");
static const QString TIME_STAMP_DISP_FORMAT = QStringLiteral("MM-dd-yyyy hh:mm:ss");
static const QString DETAILED_TIME_STAMP_FORMAT = QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz");
static const QString ORDER_TIME_STAMP_FORMAT = QStringLiteral("yyyyMMddhhmmsszzz");
static const QString FILE_DATE_TIME_FORMAT = QStringLiteral("_yyyy_MM_dd_HH_mm_ss");
static const QString FILE_DATE_TIME_DETAILED_FORMAT = QStringLiteral("_yyyy_MM_dd_HH_mm_ss_zzz");
static const QString DATE_FORMAT = QStringLiteral("yyyy-MM-dd");
static const QString RESIDENT_DATE_FORMAT = QStringLiteral("dd/MM/yyyy");
static const QString CRCL_DATE_DISPLAY_FORMAT = QStringLiteral("MM/dd/yyyy");
static const QString DATE_SEND_FORMAT = QStringLiteral("yyyy-MM-dd");
static const QString TIME_FORMAT = QStringLiteral("hh:mm");
static const QString DATE_WATCH_DOG_FORMAT = RESIDENT_DATE_FORMAT;
static const QString TIME_WATCH_DOG_FORMAT = QStringLiteral("hh:mm:ss");
static const QString VIEW_MORE_IDENTIFIER = QStringLiteral("VIEW MORE");
static const QString DEFAULT_WPA_IDENTIFIER = QStringLiteral("VovodoDefaultWF");
static const QString LOG_FILE_DATE_TIME_FORMAT = QStringLiteral("yyyy_MM_dd_HH_mm_ss");
static const QString LOG_FILE_DATE_FORMAT = QStringLiteral("yyyy_MM_dd");
static const QString PRINT_FILES_FORMATE = QStringLiteral(".png");
static const QString PRINT_THUMBNAILS_FORMATE = QStringLiteral(".ico");
static const QString INITIAL_BATTERY_STATUS = QStringLiteral("Discharging");

#endif // VOVODO_CONSTANTS_H
