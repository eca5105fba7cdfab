// The reasons a workbook import gives the window, with their language keys and built-in
// texts, and the reason behind each error text of the workbook reader.
#include "exchange.h"

#include <array>
#include <utility>

namespace vq31::sheets {

ReasonText ReadReasonText(ReadReason reason) {
    switch (reason) {
    case ReadReason::None:
        return {};
    case ReadReason::CannotOpen:
        return {"msg_wb_cannot_open", "Файл не удалось открыть или прочитать."};
    case ReadReason::NotWorkbook:
        return {"msg_wb_not_workbook",
                "Файл не является книгой (xlsx, xls, ods) или таблицей csv."};
    case ReadReason::Damaged:
        return {"msg_wb_damaged",
                "Файл повреждён или записан в виде, который программа не читает."};
    case ReadReason::TooLarge:
        return {"msg_wb_too_large", "Книга слишком велика для чтения."};
    case ReadReason::Encoding:
        return {"msg_wb_encoding", "Часть книги записана в кодировке, которую программа не знает."};
    case ReadReason::NoWorksheet:
        return {"msg_wb_no_sheet", "В книге нет ни одного листа."};
    case ReadReason::ReaderFailed:
        return {"msg_wb_reader_failed", "Чтение книги прервано: файл повреждён."};
    case ReadReason::SingleCell:
        return {"msg_wb_single_cell",
                "На первом листе занята одна ячейка или ни одной: таблицы нет."};
    case ReadReason::TooManyCells:
        return {"msg_wb_too_many_cells", "Занятая область первого листа слишком велика."};
    case ReadReason::NoPairs:
        return {"msg_wb_no_pairs", "Ни в одной строке первого листа нет чисел литров и уровня."};
    }
    return {};
}

ReadReason ReasonOfReadError(std::string_view error) {
    // Beginnings of the reader's error texts; the first that matches decides.
    static constexpr std::array<std::pair<std::string_view, ReadReason>, 16> starts = {{
        {"cannot open ", ReadReason::CannotOpen},
        {"cannot read ", ReadReason::CannotOpen},
        {"cannot write a temporary file", ReadReason::CannotOpen},
        {"file too large", ReadReason::TooLarge},
        {"the workbook unpacks to more than", ReadReason::TooLarge},
        {"workbook too large", ReadReason::TooLarge},
        {"worksheet too large", ReadReason::TooLarge},
        {"not a workbook", ReadReason::NotWorkbook},
        {"not a readable .xls workbook", ReadReason::NotWorkbook},
        {"the package holds no workbook", ReadReason::NotWorkbook},
        {"the package part ", ReadReason::Encoding},
        {"no worksheet", ReadReason::NoWorksheet},
        {"the workbook reader", ReadReason::ReaderFailed},
        {"cannot start the workbook reader", ReadReason::ReaderFailed},
        {"damaged ", ReadReason::Damaged},
        {"unterminated quoted field", ReadReason::Damaged},
    }};
    for (const auto& [start, reason] : starts) {
        if (error.starts_with(start)) {
            return reason;
        }
    }
    // The parsers' own texts (XML and archive errors) say the file is damaged.
    return ReadReason::Damaged;
}

} // namespace vq31::sheets
