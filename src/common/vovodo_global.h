#ifndef VOVODO_GLOBAL_H
#define VOVODO_GLOBAL_H

// The vocabulary this service shares with the main application: date-time
// patterns, file suffixes, identifiers and the enum-to-text tables. The texts
// and numbers cross process and file boundaries, so they are fixed exactly as
// written here, misspellings included.
//
// Every object below has internal linkage on purpose: each source file that
// includes this header builds its own copy during static initialisation, in
// declaration order, so no source file depends on another one's initialisation
// order.

#include <QMap>
#include <QString>
#include <QStringList>

#include "vovodo_constants.h"

// Walked from the front; the first suffix found wins, so ".tar.gz" must stay
// ahead of ".gz".
static const QStringList SupportedFileTypes = {
    QStringLiteral(".jpg"), QStringLiteral(".png"), QStringLiteral(".tar.gz"),
    QStringLiteral(".gz"),  QStringLiteral(".zip"), QStringLiteral(".jbin"),
};

enum APIPROCESS : int {
    CHECK_VALID_USER = 0,
    STORES = 1,
    FACILITIES = 2,
    UNITS = 3,
    USERS = 4,
    CONFIGURE_DEVICE = 5,
    PAPER_TYPES = 6,
    PATIENT_LIST = 7,
    PATIENT_DETAILS = 8,
    PATIENT_ORDER_DETAILS_PRESCRIPTION = 9,
    PATIENT_ORDER_DETAILS_ADMISSION = 10,
    BINDER_ADMISSION = 11,
    BINDER_PRESCRIPTION = 12,
    UPDATE_DEVICE_HEALTH = 13,
    PATIENT_NEXT_PREV_PAGE_INFO = 14,
    PRINT_FILE = 15,
    LOCAL_PRINT_SERVICE = 16,
    FORGOT_USER_PASSWORD = 17,
    CHECK_OTP = 18,
    RESET_PASSWORD = 19,
    CHANE_PASSWORD = 20,
    UPDATE_USER = 21,
    LU_CODE = 22,
    USER_GUIDE = 23,
    DASHBOARD = 24,
    GET_COMMAND_QUEUE = 25,
    UPDATE_COMMAND_QUEUE = 26,
    RECONFIGURE_DEVICE = 27,
    BINDER_VIEWER = 28,
    SIG_INFO = 29,
};
enum Priority : int {
    DynamicSync = 0,
    HighDynamicSync = 1,
    TotalSync = 2,
    MidHigh = 3,
    High = 4,
};
enum TRANSACTION_TYPE : int {
    PRESCRIPTION = 0,
    ADMISSION = 1,
};
enum UpdateActions : int {
    INVALID = 0,
    DOWNLOAD_ONLY = 1,
    INSTALL_NOW = 2,
    DOWNLOAD_FORCE_INSTALL = 3,
};
enum UpdateCommands : int {
    MESSAGE_ONLY = 0,
    DOWNLOAD_STARTED = 1,
    DOWNLOAD_ERROR = 2,
    UPDATE_INSTALLED = 3,
    UPDATE_AGAIN = 4,
};
enum PercentageTags : int {
    UPLOAD_PERCENTAGE = 0,
    DOWNLOAD_PERCENTAGE = 1,
};
enum BatterHealth : int {
    CHARGING = 0,
    HEALTH5 = 1,
    HEALTH10 = 2,
    HEALTH15 = 3,
    HEALTH20 = 4,
    HEALTH25 = 5,
    HEALTH30 = 6,
    HEALTH35 = 7,
    HEALTH40 = 8,
    HEALTH45 = 9,
    HEALTH50 = 10,
    HEALTH55 = 11,
    HEALTH60 = 12,
    HEALTH65 = 13,
    HEALTH70 = 14,
    HEALTH75 = 15,
    HEALTH80 = 16,
    HEALTH85 = 17,
    HEALTH90 = 18,
    HEALTH95 = 19,
    HEALTHFULL = 20,
};
enum CloudState : int {
    OFFLINE = 0,
    ONLINE = 1,
    SYNC_DOWNLOAD = 2,
    SYNC_UPLOAD = 3,
    SYNC_FINISHED = 4,
};
enum EditableInfo : int {
    Name = 0,
    Email = 1,
    Phone = 2,
    Password = 3,
};
enum LockStatus : int {
    UNLOCKED = 0,
    LOCKED_WRONG_ATTEMPTS = 1,
    IDLE_LOCK = 2,
};
enum RestartTarget : int {
    Application = 0,
    Device = 1,
};
enum SettingsKeys : int {
    MACHINE_ID = 0,
    ROLE_GROUP_CODE = 1,
    RESET_PASSCODE_ROLE = 2,
    PRINT_PORT = 3,
    USER_NAME = 4,
    FACILITY_CODE = 5,
    TIME_ZONE = 6,
    TIME_ZONE_NAME = 7,
    USER_CODE = 8,
    AUTO_PRINT_ORDER = 9,
    USB_MAC_ADDRESS = 10,
    PATIENTS_COUNT = 11,
    ROLE_TYPE = 12,
    UNIT_CODE = 13,
    ROLE_CODE = 14,
    PRINT_IP = 15,
    MACHINE_NO = 16,
    UNIT_NAME = 17,
    TOTAL_SYNC = 18,
    UUID_CODE = 19,
    DARFT_COUNT = 20,
    PRESCRIPTION_COUNT = 21,
    BOOK_COUNT = 22,
    SHOW_PRINT_ORDER_DIALOG = 23,
    PRINTER_ENABLED = 24,
    CENTRAL_UPDATE = 25,
    CENTRAL_PRINT = 26,
    STORE_CODE = 27,
    STORE_NAME = 28,
    MOBILE_URL = 29,
    FACILITY_NAME = 30,
    PRINTER_NAME = 31,
    PRINT_COUNT = 32,
    BROADCAST_MESSAGE = 33,
    INFORMATION_TITLE = 34,
    INFORMATION_MESSAGE = 35,
    SWITCH_USER = 36,
    LOGOUT = 37,
    PUBLIC_IP = 38,
    LOACL_IP = 39,
    USB_IP = 40,
    WIFI_MAC_ADDRESS = 41,
    FIREWALL_STATUS = 42,
    FIREWALL_LAST_UPDATE = 43,
    FIREWALL_VERSION = 44,
    AUTO_UPDATE_STATUS = 45,
    LAST_DOWNLOADED_APP_VERSION = 46,
    COMMAND_NAME = 47,
    LAST_INTERNET_DOWN = 48,
    ROOT_PASS = 49,
};
enum StatisticsKeys : int {
    LAST_LOGIN_DATE = 0,
    LAST_SYNC_DATE = 1,
    LAST_RESTART_DATE = 2,
    LAST_PRESCRIPTION_WRITTEN = 3,
    LAST_ADMISSION_WRITTEN = 4,
    LAST_PRINT_DATE = 5,
    LOGIN_ATTEMPTS = 6,
    WIFI_DRIVER_VERSION = 7,
    OS_LAST_UPDATE = 8,
    APPLICATION_VERSION = 9,
    APPLICATION_VERSION_TYPE = 10,
    OS_VERSION = 11,
    PENDING_ORDERS = 12,
    PENDING_PRINT_ORDERS = 13,
    BATTERY_HEALTH = 14,
    BATTERY_STATUS = 15,
    TOTAL_STORAGE = 16,
    USED_STORAGE = 17,
    FREE_STORAGE = 18,
    DOCTOR_DAY = 19,
    DEVICE_STATUS = 20,
    DEVICE_HEALTH = 21,
    PRINT_SERVICE_HEALTH = 22,
    LOCK_STATUS = 23,
    FACILITY_SYNC_TIMESTAMP = 24,
    UNIT_SYNC_TIMESTAMP = 25,
    RESIDENT_SYNC_TIMESTAMP = 26,
};
enum ActivitySwitcher : int {
    Adapter = 0,
    Transaction = 1,
    Backend = 2,
};
enum WifiStatus : int {
    Connected = 0,
    Connecting = 1,
    Disconnected = 2,
};
enum ReconfigureTarget : int {
    Reconfigure = 1,
    FactoryReset = 2,
    EraseAllData = 3,
};

static const QMap<APIPROCESS, QString> APIPROCESS_TO_STR = {
    { CHECK_VALID_USER, QStringLiteral("CHECK_VALID_USER") },
    { STORES, QStringLiteral("STORES") },
    { FACILITIES, QStringLiteral("FACILITIES") },
    { UNITS, QStringLiteral("UNITS") },
    { USERS, QStringLiteral("USERS") },
    { CONFIGURE_DEVICE, QStringLiteral("CONFIGURE_DEVICE") },
    { PAPER_TYPES, QStringLiteral("PAPER_TYPES") },
    { PATIENT_LIST, QStringLiteral("PATIENT_LIST") },
    { PATIENT_DETAILS, QStringLiteral("PATIENT_DETAILS") },
    { PATIENT_ORDER_DETAILS_PRESCRIPTION, QStringLiteral("PATIENT_ORDER_DETAILS_PRESCRIPTION") },
    { PATIENT_ORDER_DETAILS_ADMISSION, QStringLiteral("PATIENT_ORDER_DETAILS_ADMISSION") },
    { BINDER_ADMISSION, QStringLiteral("BINDER_ADMISSION") },
    { BINDER_PRESCRIPTION, QStringLiteral("BINDER_PRESCRIPTION") },
    { UPDATE_DEVICE_HEALTH, QStringLiteral("UPDATE_DEVICE_HEALTH") },
    { PATIENT_NEXT_PREV_PAGE_INFO, QStringLiteral("PATIENT_NEXT_PREV_PAGE_INFO") },
    { PRINT_FILE, QStringLiteral("PRINT_FILE") },
    { LOCAL_PRINT_SERVICE, QStringLiteral("LOCAL_PRINT_SERVICE") },
    { FORGOT_USER_PASSWORD, QStringLiteral("FORGOT_USER_PASSWORD") },
    { CHECK_OTP, QStringLiteral("CHECK_OTP") },
    { RESET_PASSWORD, QStringLiteral("RESET_PASSWORD") },
    { CHANE_PASSWORD, QStringLiteral("CHANE_PASSWORD") },
    { UPDATE_USER, QStringLiteral("UPDATE_USER") },
    { LU_CODE, QStringLiteral("LU_CODE") },
    { USER_GUIDE, QStringLiteral("USER_GUIDE") },
    { DASHBOARD, QStringLiteral("DASHBOARD") },
    { GET_COMMAND_QUEUE, QStringLiteral("GET_COMMAND_QUEUE") },
    { UPDATE_COMMAND_QUEUE, QStringLiteral("UPDATE_COMMAND_QUEUE") },
    { RECONFIGURE_DEVICE, QStringLiteral("RECONFIGURE_DEVICE") },
    { BINDER_VIEWER, QStringLiteral("BINDER_VIEWER") },
    { SIG_INFO, QStringLiteral("SIG_INFO") },
};
static const QMap<Priority, QString> PRIORITY_TO_STR = {
    { DynamicSync, QStringLiteral("DynamicSync") },
    { HighDynamicSync, QStringLiteral("HighDynamicSync") },
    { TotalSync, QStringLiteral("TotalSync") },
    { MidHigh, QStringLiteral("MidHigh") },
    { High, QStringLiteral("High") },
};
static const QMap<TRANSACTION_TYPE, QString> TRANSACTION_TO_STR = {
    { PRESCRIPTION, QStringLiteral("PRESCRIPTION") },
    { ADMISSION, QStringLiteral("ADMISSION") },
};
static const QMap<UpdateActions, QString> UPDATE_ACTION_TO_STR = {
    { INVALID, QStringLiteral("INVALID") },
    { DOWNLOAD_ONLY, QStringLiteral("DOWNLOAD_ONLY") },
    { INSTALL_NOW, QStringLiteral("INSTALL_NOW") },
    { DOWNLOAD_FORCE_INSTALL, QStringLiteral("DOWNLOAD_FORCE_INSTALL") },
};
static const QMap<UpdateCommands, QString> UPDATE_COMMANDS_TO_STR = {
    { MESSAGE_ONLY, QStringLiteral("MESSAGE_ONLY") },
    { DOWNLOAD_STARTED, QStringLiteral("DOWNLOAD_STARTED") },
    { DOWNLOAD_ERROR, QStringLiteral("DOWNLOAD_ERROR") },
    { UPDATE_INSTALLED, QStringLiteral("UPDATE_INSTALLED") },
    { UPDATE_AGAIN, QStringLiteral("UPDATE_AGAIN") },
};
static const QMap<PercentageTags, QString> PERCENTAGE_TAGS_TO_STR = {
    { UPLOAD_PERCENTAGE, QStringLiteral("UPLOAD_PERCENTAGE") },
    { DOWNLOAD_PERCENTAGE, QStringLiteral("DOWNLOAD_PERCENTAGE") },
};
static const QMap<BatterHealth, QString> BATTERY_TO_STR = {
    { CHARGING, QStringLiteral("CHARGING") },     { HEALTH5, QStringLiteral("HEALTH5") },
    { HEALTH10, QStringLiteral("HEALTH10") },     { HEALTH15, QStringLiteral("HEALTH15") },
    { HEALTH20, QStringLiteral("HEALTH20") },     { HEALTH25, QStringLiteral("HEALTH25") },
    { HEALTH30, QStringLiteral("HEALTH30") },     { HEALTH35, QStringLiteral("HEALTH35") },
    { HEALTH40, QStringLiteral("HEALTH40") },     { HEALTH45, QStringLiteral("HEALTH45") },
    { HEALTH50, QStringLiteral("HEALTH50") },     { HEALTH55, QStringLiteral("HEALTH55") },
    { HEALTH60, QStringLiteral("HEALTH60") },     { HEALTH65, QStringLiteral("HEALTH65") },
    { HEALTH70, QStringLiteral("HEALTH70") },     { HEALTH75, QStringLiteral("HEALTH75") },
    { HEALTH80, QStringLiteral("HEALTH80") },     { HEALTH85, QStringLiteral("HEALTH85") },
    { HEALTH90, QStringLiteral("HEALTH90") },     { HEALTH95, QStringLiteral("HEALTH95") },
    { HEALTHFULL, QStringLiteral("HEALTHFULL") },
};
static const QMap<CloudState, QString> CLOUD_STATE_TO_STR = {
    { OFFLINE, QStringLiteral("OFFLINE") },
    { ONLINE, QStringLiteral("ONLINE") },
    { SYNC_DOWNLOAD, QStringLiteral("SYNC_DOWNLOAD") },
    { SYNC_UPLOAD, QStringLiteral("SYNC_UPLOAD") },
    { SYNC_FINISHED, QStringLiteral("SYNC_FINISHED") },
};
// Keyed by the field's text: a text without a row reads as Name (0).
static const QMap<QString, EditableInfo> INFO_FIELD_TO_STR = {
    { QStringLiteral("Name"), Name },
    { QStringLiteral("Email"), Email },
    { QStringLiteral("Phone"), Phone },
    { QStringLiteral("Password"), Password },
};
static const QMap<LockStatus, QString> LOCK_STATUS_TO_STR = {
    { UNLOCKED, QStringLiteral("UNLOCKED") },
    { LOCKED_WRONG_ATTEMPTS, QStringLiteral("LOCKED_WRONG_ATTEMPTS") },
    { IDLE_LOCK, QStringLiteral("IDLE_LOCK") },
};
static const QMap<RestartTarget, QString> RESTART_TARGET_FIELD_TO_STR = {
    { Application, QStringLiteral("Application") },
    { Device, QStringLiteral("Device") },
};
static const QMap<SettingsKeys, QString> SETTINGS_KEYS_TO_STR = {
    { MACHINE_ID, QStringLiteral("MACHINE_ID") },
    { ROLE_GROUP_CODE, QStringLiteral("ROLE_GROUP_CODE") },
    { RESET_PASSCODE_ROLE, QStringLiteral("RESET_PASSCODE_ROLE") },
    { PRINT_PORT, QStringLiteral("PRINT_PORT") },
    { USER_NAME, QStringLiteral("USER_NAME") },
    { FACILITY_CODE, QStringLiteral("FACILITY_CODE") },
    { TIME_ZONE, QStringLiteral("TIME_ZONE") },
    { TIME_ZONE_NAME, QStringLiteral("TIME_ZONE_NAME") },
    { USER_CODE, QStringLiteral("USER_CODE") },
    { AUTO_PRINT_ORDER, QStringLiteral("AUTO_PRINT_ORDER") },
    { USB_MAC_ADDRESS, QStringLiteral("USB_MAC_ADDRESS") },
    { PATIENTS_COUNT, QStringLiteral("PATIENTS_COUNT") },
    { ROLE_TYPE, QStringLiteral("ROLE_TYPE") },
    { UNIT_CODE, QStringLiteral("UNIT_CODE") },
    { ROLE_CODE, QStringLiteral("ROLE_CODE") },
    { PRINT_IP, QStringLiteral("PRINT_IP") },
    { MACHINE_NO, QStringLiteral("MACHINE_NO") },
    { UNIT_NAME, QStringLiteral("UNIT_NAME") },
    { TOTAL_SYNC, QStringLiteral("TOTAL_SYNC") },
    { UUID_CODE, QStringLiteral("UUID_CODE") },
    { DARFT_COUNT, QStringLiteral("DARFT_COUNT") },
    { PRESCRIPTION_COUNT, QStringLiteral("PRESCRIPTION_COUNT") },
    { BOOK_COUNT, QStringLiteral("BOOK_COUNT") },
    { SHOW_PRINT_ORDER_DIALOG, QStringLiteral("SHOW_PRINT_ORDER_DIALOG") },
    { PRINTER_ENABLED, QStringLiteral("PRINTER_ENABLED") },
    { CENTRAL_UPDATE, QStringLiteral("CENTRAL_UPDATE") },
    { CENTRAL_PRINT, QStringLiteral("CENTRAL_PRINT") },
    { STORE_CODE, QStringLiteral("STORE_CODE") },
    { STORE_NAME, QStringLiteral("STORE_NAME") },
    { MOBILE_URL, QStringLiteral("MOBILE_URL") },
    { FACILITY_NAME, QStringLiteral("FACILITY_NAME") },
    { PRINTER_NAME, QStringLiteral("PRINTER_NAME") },
    { PRINT_COUNT, QStringLiteral("PRINT_COUNT") },
    { BROADCAST_MESSAGE, QStringLiteral("BROADCAST_MESSAGE") },
    { INFORMATION_TITLE, QStringLiteral("INFORMATION_TITLE") },
    { INFORMATION_MESSAGE, QStringLiteral("INFORMATION_MESSAGE") },
    { SWITCH_USER, QStringLiteral("SWITCH_USER") },
    { LOGOUT, QStringLiteral("LOGOUT") },
    { PUBLIC_IP, QStringLiteral("PUBLIC_IP") },
    { LOACL_IP, QStringLiteral("LOACL_IP") },
    { USB_IP, QStringLiteral("USB_IP") },
    { WIFI_MAC_ADDRESS, QStringLiteral("WIFI_MAC_ADDRESS") },
    { FIREWALL_STATUS, QStringLiteral("FIREWALL_STATUS") },
    { FIREWALL_LAST_UPDATE, QStringLiteral("FIREWALL_LAST_UPDATE") },
    { FIREWALL_VERSION, QStringLiteral("FIREWALL_VERSION") },
    { AUTO_UPDATE_STATUS, QStringLiteral("AUTO_UPDATE_STATUS") },
    { LAST_DOWNLOADED_APP_VERSION, QStringLiteral("LAST_DOWNLOADED_APP_VERSION") },
    { COMMAND_NAME, QStringLiteral("COMMAND_NAME") },
    { LAST_INTERNET_DOWN, QStringLiteral("LAST_INTERNET_DOWN") },
    { ROOT_PASS, QStringLiteral("ROOT_PASS") },
};
static const QMap<StatisticsKeys, QString> STATISTICS_KEYS_TO_STR = {
    { LAST_LOGIN_DATE, QStringLiteral("LAST_LOGIN_DATE") },
    { LAST_SYNC_DATE, QStringLiteral("LAST_SYNC_DATE") },
    { LAST_RESTART_DATE, QStringLiteral("LAST_RESTART_DATE") },
    { LAST_PRESCRIPTION_WRITTEN, QStringLiteral("LAST_PRESCRIPTION_WRITTEN") },
    { LAST_ADMISSION_WRITTEN, QStringLiteral("LAST_ADMISSION_WRITTEN") },
    { LAST_PRINT_DATE, QStringLiteral("LAST_PRINT_DATE") },
    { LOGIN_ATTEMPTS, QStringLiteral("LOGIN_ATTEMPTS") },
    { WIFI_DRIVER_VERSION, QStringLiteral("WIFI_DRIVER_VERSION") },
    { OS_LAST_UPDATE, QStringLiteral("OS_LAST_UPDATE") },
    { APPLICATION_VERSION, QStringLiteral("APPLICATION_VERSION") },
    { APPLICATION_VERSION_TYPE, QStringLiteral("APPLICATION_VERSION_TYPE") },
    { OS_VERSION, QStringLiteral("OS_VERSION") },
    { PENDING_ORDERS, QStringLiteral("PENDING_ORDERS") },
    { PENDING_PRINT_ORDERS, QStringLiteral("PENDING_PRINT_ORDERS") },
    { BATTERY_HEALTH, QStringLiteral("BATTERY_HEALTH") },
    { BATTERY_STATUS, QStringLiteral("BATTERY_STATUS") },
    { TOTAL_STORAGE, QStringLiteral("TOTAL_STORAGE") },
    { USED_STORAGE, QStringLiteral("USED_STORAGE") },
    { FREE_STORAGE, QStringLiteral("FREE_STORAGE") },
    { DOCTOR_DAY, QStringLiteral("DOCTOR_DAY") },
    { DEVICE_STATUS, QStringLiteral("DEVICE_STATUS") },
    { DEVICE_HEALTH, QStringLiteral("DEVICE_HEALTH") },
    { PRINT_SERVICE_HEALTH, QStringLiteral("PRINT_SERVICE_HEALTH") },
    { LOCK_STATUS, QStringLiteral("LOCK_STATUS") },
    { FACILITY_SYNC_TIMESTAMP, QStringLiteral("FACILITY_SYNC_TIMESTAMP") },
    { UNIT_SYNC_TIMESTAMP, QStringLiteral("UNIT_SYNC_TIMESTAMP") },
    { RESIDENT_SYNC_TIMESTAMP, QStringLiteral("RESIDENT_SYNC_TIMESTAMP") },
};
static const QMap<ActivitySwitcher, QString> ACTIVITY_SWITCHER_TO_STR = {
    { Adapter, QStringLiteral("Adapter") },
    { Transaction, QStringLiteral("Transaction") },
    { Backend, QStringLiteral("Backend") },
};
static const QMap<WifiStatus, QString> WIFI_STATUS_TO_STR = {
    { Connected, QStringLiteral("Connected") },
    { Connecting, QStringLiteral("Connecting") },
    { Disconnected, QStringLiteral("Disconnected") },
};
static const QMap<ReconfigureTarget, QString> RECONF_TARGET_TO_STR = {
    { Reconfigure, QStringLiteral("Reconfigure") },
    { FactoryReset, QStringLiteral("FactoryReset") },
    { EraseAllData, QStringLiteral("EraseAllData") },
};

#endif // VOVODO_GLOBAL_H
