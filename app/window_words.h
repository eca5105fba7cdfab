// Texts of the main window's own additions (checks, results, unwritten work), by language
// key with the built-in Russian text. The shipped language file carries each in both
// languages.
#pragma once

#include "language_keys.h"

#include <vector>

namespace vq31::app::word {

inline constexpr KeyText OutOfRange{"msg_value_out_of_range",
                                    "Значение %1 вне допустимого диапазона: от %2 до %3"};
inline constexpr KeyText AddressOutOfRange{
    "msg_address_out_of_range",
    "Адрес %1 вне диапазона: от 0 до 254. Адрес 255 (всем датчикам линии) выбирается флажком "
    "«Всем»"};
inline constexpr KeyText Broadcast{"ChkAddrBroadcast", "Всем (255)"};
inline constexpr KeyText Unwritten{"LblHubUnwritten", "Не записано в датчик"};
inline constexpr KeyText AskUnwritten{
    "msg_unwritten_on_close",
    "Таблица или список баков изменены, но не записаны в датчик. Записать перед выходом?"};
inline constexpr KeyText WriteButton{"str_btn_write", "Записать"};
inline constexpr KeyText DiscardButton{"str_btn_discard", "Не записывать"};
inline constexpr KeyText StayButton{"str_btn_stay", "Остаться"};
inline constexpr KeyText NothingChanged{
    "msg_nothing_changed", "Датчик уже содержит эти данные: ничего не изменено, запись не нужна"};
inline constexpr KeyText MakeActive{"msg_make_tank_active",
                                    "Сделать бак %1 активным в датчике вместо бака %2?"};
inline constexpr KeyText TableWritten{"msg_done_table",
                                      "Таблица записана и прочитана обратно: строк %1"};
inline constexpr KeyText HubWritten{"msg_done_hub", "Данные бака %1 записаны в датчик"};
inline constexpr KeyText ListWritten{"msg_done_tank_list",
                                     "Список баков записан в датчик и прочитан обратно"};
inline constexpr KeyText SettingsWritten{"msg_done_settings", "Настройки записаны в датчик"};
inline constexpr KeyText FrequencySet{"msg_done_frequency", "Частота %1 кГц установлена"};
inline constexpr KeyText ValueSet{"msg_done_setting", "Значение установлено в датчике"};
inline constexpr KeyText ListExported{"msg_done_list_saved", "Список баков сохранён: %1"};
inline constexpr KeyText ListImported{"msg_done_list_imported",
                                      "Список баков загружен из %1 (в датчик ещё не записан)"};
inline constexpr KeyText StartAddress{
    "msg_start_address_refused", "Адрес %1 из файла настроек вне диапазона 0–255; взят адрес %2"};

inline constexpr KeyText AfcStop{"BtnAfcStop", "Стоп"};
inline constexpr KeyText AfcWindow{"LblAfcWindow",
                                   "Начало и ширина: окно по дальности, в отсчётах осциллограммы"};
inline constexpr KeyText AfcRunning{"msg_afc_running", "Снимается АЧХ…"};
inline constexpr KeyText AfcProgress{"msg_afc_progress", "Частота датчика: %1"};
inline constexpr KeyText AfcEnded{"msg_afc_ended", "АЧХ окончена, частота %1 восстановлена"};
inline constexpr KeyText TuneHint1{
    "msg_tune_hint_step1",
    "Шаг 1 не заканчивается сам: датчик показывает уровень сигнала, пока кнопка «Шаг 1» нажата. "
    "Нажмите её ещё раз, чтобы закончить."};
inline constexpr KeyText TuneHint2{
    "msg_tune_hint_step2",
    "Шаг 2: датчик подбирает параметры сам; по окончании будет сказано, что он установил."};
inline constexpr KeyText SearchCancel{"BtnSearchCancel", "Отменить поиск"};
inline constexpr KeyText SearchTrying{"msg_search_trying", "Поиск: проверяется %1 бит/с…"};
inline constexpr KeyText SearchCauses{
    "msg_search_causes",
    "Возможные причины: перепутаны провода A и B; нет питания датчика; ответ по адресу 255 "
    "выключен в датчике; порт занят другой программой."};

// Tooltips of the tare window's picture buttons (set from the tare page).
inline constexpr KeyText TipImport{"tip_tare_import", "Импорт таблицы из книги Excel"};
inline constexpr KeyText TipExport{"tip_tare_export", "Экспорт таблицы в книгу Excel"};
inline constexpr KeyText TipAdd{"tip_tare_add", "Добавить строку"};
inline constexpr KeyText TipDelete{"tip_tare_delete", "Удалить выбранные строки"};
inline constexpr KeyText TipCsv{"tip_tare_csv", "Экспорт для телематики (CSV)"};

// Names of the file dialogs' filters.
inline constexpr KeyText FilterExcel{"str_filter_excel", "Книги Excel"};
inline constexpr KeyText FilterWorkbooks{"str_filter_workbooks", "Все книги и таблицы"};

// The locale of Qt's own translations (dialog buttons, file dialogs) for the language.
inline constexpr KeyText QtLocale{"qt_locale", "ru"};

// Every text above, for the check of the shipped language file.
inline std::vector<KeyText> All() {
    return {OutOfRange,   AddressOutOfRange, Broadcast,    Unwritten,       AskUnwritten,
            WriteButton,  DiscardButton,     StayButton,   NothingChanged,  MakeActive,
            TableWritten, HubWritten,        ListWritten,  SettingsWritten, FrequencySet,
            ValueSet,     ListExported,      ListImported, StartAddress,    QtLocale,
            AfcStop,      AfcWindow,         TuneHint1,    TuneHint2,       AfcRunning,
            AfcProgress,  AfcEnded,          SearchCancel, SearchTrying,    SearchCauses,
            TipImport,    TipExport,         TipAdd,       TipDelete,       TipCsv,
            FilterExcel,  FilterWorkbooks};
}

} // namespace vq31::app::word
