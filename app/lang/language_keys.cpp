// Built-in captions and texts of the windows, by language key.
#include "language_keys.h"

namespace vq31 {

const std::vector<KeyText>& MainWindowCaptions() {
    static const std::vector<KeyText> entries = {
        // Pages of the main page control.
        {"TsProgram", "Программа"},
        {"TsOscill", "Осциллограф"},
        {"TsTara", "Тарирование"},
        {"TsSettings", "Настройки"},
        // Program page.
        {"GbLang", "Локализация"},
        {"LblLang", "Язык:"},
        {"GbCom", "Настройки порта"},
        {"LblCom", "Номер порта:"},
        {"LblBaud", "Скорость (бит/с):"},
        {"LblAddr", "Адрес устройства:"},
        {"BtnPortOpen", "Открыть"},
        {"BtnPortClose", "Закрыть"},
        {"BtnSearchDevice", "Поиск устройства"},
        // Status bar: the button of the traffic window.
        {"BtnTraffic", "Обмен..."},
        {"BtnReconnect", "Подключить снова"}, // after an unplugged adapter came back
        // Program page: the sensor panel.
        {"GbSensor", "Датчик"},
        {"LblSensorSerial", "Серийный номер:"},
        {"LblSensorModel", "Модель:"},
        {"LblSensorFirmware", "Версия ПО:"},
        {"LblSensorLevel", "Уровень, мм:"},
        {"LblSensorLitres", "Объём, л:"},
        {"LblSensorPort", "Порт:"},
        // Oscilloscope page: live values and gain row.
        {"LblAuth", "Auth:"},
        {"LblPos", "Pos/Div:"},
        {"LblFrame", "Frame:"},
        {"LblUncorr", "Uncorr:"},
        {"LblCorr", "Corr:"},
        {"LblMm", "mm:"},
        {"LblTemp", "T,°C :"},
        {"LblCurr", "Тек:"},
        {"LblSet", "Уст:"},
        {"LblMax", "Макс.:"},
        {"LblKuStr", "Ku:"},
        {"LblAttenStr", "Att:"},
        // Oscilloscope page: inner pages.
        {"TsPulse", "Имульс"},
        {"TsFiltr", "Фильтр"},
        {"TsIntegrator", "Интегратор"},
        {"TsAfc", "АЧХ"},
        {"TsAuto", "Автонастройка"},
        {"TsDsplTest", "Дисплей"},
        {"LblFreqStr", "F, кГц:"},
        {"BtnFreq", "Set"},
        {"LblPulseStr", "Имп, х10:"},
        {"BtnPulse", "Set"},
        {"LblFiltrStr", "F, кГц"},
        {"GbIntegrator", "Интегратор"},
        {"LblIntegrateDeadzone", "Мертвая зона:"},
        {"LblIntegrateTreshold", "Порог:"},
        {"BtnSetIntegrator", "Установить"},
        {"GbAfc", "АЧХ"},
        {"LblDAfc", "Шаг:"},
        {"LblAfcDeadZone", "Начало:"},
        {"LblAfcBandwidth", "Ширина:"},
        {"BtnAFC", "АЧХ"},
        {"GbAutomat", "Автонастройка"},
        {"SbPre", "Шаг 1"},
        {"SbAfc", "Шаг 2"},
        {"GbDisplay", "Тест"},
        {"LblSegm1", "Сегмент 1"},
        {"LblSegm2", "Сегмент 2"},
        {"LblSegm3", "3"},
        {"SbDplTestManual", "Ручн"},
        {"SbDplTestAuto", "Авто"},
        // Tare page.
        {"GbTara", "Тарирование"},
        {"LblHubVer", "Версия хаба:"},
        {"LblHubTankID", "Тип бака:"},
        {"BtnHubTareTable", "Таблица"},
        {"LblHubTableLen", "Кол-во записей:"},
        {"LblHubTankHeight", "Высота бака, мм:"},
        {"LblHubMlPerBit", "Выдача в литрах:"},
        {"BtnHubTareSet", "Установить"},
        {"GbExcelImpExp", "Импорт/экспорт списка предустановленных баков"},
        {"BtnTanksImp", "Импорт списка"},
        {"BtnTanksExp", "Экспорт списка"},
        // Settings page.
        {"GbInfo", "Паспортные данные"},
        {"LblDate", "Дата:"},
        {"LblSN", "S/N:"},
        {"LblModel", "Модель:"},
        {"LblVer", "Версия ПО:"},
        {"LblRev", "Ревизия:"},
        {"GbParams", "Параметры выдаваемых данных"},
        {"LblBits", "Разрядность данных:"},
        {"Lbl255Ans", "Ответ по адресу 255:"},
        {"LblPostFiltr", "Пост-фильтрация:"},
        {"LblAddr2", "Адрес:"},
        {"LblBaud2", "Скорость:"},
        {"RepAutoOn", "Автовыдача"},
        {"LblPeriod", "Период автовыдачи:"},
        {"GbFuelType", "Тип топлива"},
        {"LblFuelType", "Тип топлива:"},
        {"LblFuelOfs", "Скорость звука в топливе:"},
        {"LblFuelKu", "Температурный коэф.:"},
        {"BtnParamsWrite", "Установить"},
        {"BtnSnapshots", "Снимки..."},
        // Oscilloscope chart export.
        {"BtnChartPng", "Сохранить PNG"},
        {"BtnChartCsv", "Сохранить CSV"},
    };
    return entries;
}

const std::vector<KeyText>& TareWindowCaptions() {
    static const std::vector<KeyText> entries = {
        {"gb_tare", "Тарирование"},
        {"lbl_accuracy", "Чувствит, мм:"},
        {"lbl_portion", "Порция, л:"},
        {"btn_add", "Добавить"},
        {"gb_table1", "Таблица"},
        {"Menu_Add", "Добавить строку"},
        {"Menu_Rem", "Удалить строку"},
        {"Menu_Excel_Imp", "Импорт из Excel"},
        {"Menu_Excel_Exp", "Экспорт в Excel"},
        {"gb_level1", "Уровень, мм"},
        {"btn_OK", "OK"},
        {"btn_Cancel", "Отмена"},
        // Curve, settle time, telematics pairs and report.
        {"lbl_settle", "Успокоение, с:"},
        {"gb_plot", "График"},
        {"lbl_csv_separator", "Разделитель:"},
        {"btn_report", "Протокол..."},
        {"Menu_Csv_Exp", "Экспорт для телематики (CSV)"},
        {"Menu_Report", "Протокол тарировки (PDF)"},
    };
    return entries;
}

const std::vector<KeyText>& AddRowCaptions() {
    static const std::vector<KeyText> entries = {
        {"lbl_litr", "Литры:"},
        {"lbl_code", "Код:"},
        {"btn_add", "Добавить"},
        {"btn_exit", "Выход"},
    };
    return entries;
}

const std::vector<KeyText>& ToolWindowCaptions() {
    static const std::vector<KeyText> entries = {
        {SnapshotWindowKey, "Снимки устройства"},
        {"ChkSnapshotParams", "Восстановить и параметры"},
        {"BtnSnapshotDiff", "Сравнить с устройством"},
        {"BtnSnapshotRestore", "Восстановить"},
        {"BtnSnapshotRefresh", "Обновить"},
        {TrafficWindowKey, "Обмен с устройством"},
        {"BtnTrafficPause", "Пауза"},
        {"BtnTrafficClear", "Очистить"},
        {"ChkTrafficErrors", "Только ошибки"},
        {"BtnTrafficSave", "Сохранить..."},
    };
    return entries;
}

const std::vector<KeyText>& TareWindowTexts() {
    static const std::vector<KeyText> entries = {
        {TareWindowKey, "Тарировочная таблица"},
        {tare_msg::Column0, "№"},
        {tare_msg::Column1, "Литры"},
        {tare_msg::Column2, "мм"},
        {tare_msg::WrongCode, "Неверное значение кода"},
        {tare_msg::WrongLitres, "Литраж превышает максимально допустимый"},
        {tare_msg::AccuracyWrong, "Неверное значение чувствительности"},
        {tare_msg::PortionWrong, "Неверное значение порции топлива"},
        {tare_msg::PortionTooSmall, "Порция топлива менее допустимой"},
        {tare_msg::ChangeBelowAccuracy,
         "Изменение кода не превышает установленной чувствительности"},
        {tare_msg::DrainTooBig, "Порция слива превышает остаток топлива в баке"},
        {tare_msg::TableWillTruncate,
         "Превышено максимальное количество записей. Таблица будет усечена. Продолжить?"},
        // Table checks beside the grid, settle state, telematics pairs and report dialog.
        {"sg_tare_column3", "Проверка"},
        {"msg_check_unsettled", "Точка взята до успокоения уровня"},
        {"str_settled", "уровень стабилен"},
        {"str_settling", "ждать %1 с"},
        {"msg_csv_empty", "Таблица пуста: экспортировать нечего"},
        {"msg_file_write_failed", "Не удалось записать файл: %1"},
        {"msg_report_no_passport",
         "Паспорт датчика не прочитан. Прочитайте параметры на странице настроек и повторите."},
        {"Form_Report", "Протокол тарировки"},
        {"btn_rep_write", "Сохранить PDF…"},
        {"btn_rep_cancel", "Отмена"},
    };
    return entries;
}

const std::vector<KeyText>& AddRowTexts() {
    static const std::vector<KeyText> entries = {
        {AddRowWindowKey, "Добавить"},
        {tare_msg::WrongCode, "Неверное значение кода"},
        {tare_msg::LitresNotNumber, "Неверное значение литров"},
    };
    return entries;
}

} // namespace vq31
