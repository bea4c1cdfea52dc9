#pragma once

// The program's own texts and command identifiers, in one table. Qt's
// standard texts (button captions, the file dialog) come from Qt's Polish
// translation.

#include <QString>

#include <cerrno>

namespace kav::ui {

// Command identifiers, as the menu sends them.
enum CommandId : int {
    ID_POINTS_NEW = 32771,
    ID_POINTS_OPEN = 32772,
    ID_POINTS_SAVE = 32778,
    ID_SHOW_COORDS = 32782,
    ID_UNDO_POINT = 32785,
    ID_REDO_POINT = 32786, // not on the menu bar: Ctrl+Shift+Z and the platform's Redo key
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
};

// Status-bar readout panes.
enum IndicatorId : int {
    ID_INDICATOR_X = 61204,
    ID_INDICATOR_Y = 61205,
    ID_INDICATOR_COUNT = 61206,
};

inline const QString kAppName = QStringLiteral("kav");
inline const QString kOrganization = QStringLiteral("Local AppWizard-Generated Applications");
inline const QString kCaption = QStringLiteral("KAV Edytor");
inline const QString kVersion = QStringLiteral(KAV_VERSION_TEXT);

// The command line.
inline const QString kHelpText = QStringLiteral("Użycie: kav [opcje] [plik]\n"
                                                "KAV Edytor: edytor łamanych na płaszczyźnie.\n"
                                                "\n"
                                                "Opcje:\n"
                                                "  -h, --help       Wyświetla tę pomoc.\n"
                                                "  -v, --version    Wyświetla wersję programu.\n"
                                                "  -o, --open PLIK  Po otwarciu okna wczytuje punkty z pliku PLIK,\n"
                                                "                   tak jak polecenie Plik > Otwórz...\n"
                                                "\n"
                                                "Argumenty:\n"
                                                "  plik             Plik zapamiętywany przy starcie, bez wczytywania\n"
                                                "                   punktów; dalsze nazwy i nieznane opcje są\n"
                                                "                   pomijane.\n");
inline const QString kIgnoredArgumentsText = QStringLiteral("kav: pominięto argumenty: %1");

// Menu captions.
inline const QString kMenuFile = QStringLiteral("&Plik");
inline const QString kMenuNew = QStringLiteral("&Nowy");
inline const QString kMenuOpen = QStringLiteral("&Otwórz...");
inline const QString kMenuSave = QStringLiteral("Zapi&sz...");
inline const QString kMenuExit = QStringLiteral("&Wyjście");
inline const QString kMenuShowCoords = QStringLiteral("Pokaż współrzędne");
inline const QString kMenuUndo = QStringLiteral("&Cofnij");
inline const QString kMenuRedo = QStringLiteral("Ponów");

// The view's context menu, and what the message pane says of the scale.
inline const QString kMenuZoomIn = QStringLiteral("Powiększ");
inline const QString kMenuZoomOut = QStringLiteral("Pomniejsz");
inline const QString kMenuFit = QStringLiteral("Dopasuj do okna");
inline const QString kMenuActualSize = QStringLiteral("Rozmiar rzeczywisty");
inline const QString kMenuLoadUnderlay = QStringLiteral("Wczytaj podkład...");
inline const QString kMenuShowUnderlay = QStringLiteral("Pokaż podkład");
inline const QString kMenuRemoveUnderlay = QStringLiteral("Usuń podkład");
inline const QString kMenuExport = QStringLiteral("Eksportuj...");
// An underlay that cannot be shown: the file, then the reason.
inline const QString kUnderlayFailedText = QStringLiteral("Nie można wczytać podkładu „%1”.\n%2");
inline const QString kUnderlayFailedCaption = QStringLiteral("Nie można wczytać podkładu");
inline const QString kUnderlayTooLarge = QStringLiteral("Obraz ma %1 × %2 pikseli; podkład może mieć najwyżej %3 × %3.");
inline const QString kUnderlayNoMemory = QStringLiteral("Za mało pamięci na ten obraz.");
inline const QString kUnderlayUnreadable = QStringLiteral("Plik nie jest obrazem, który można odczytać.");
inline const QString kUnderlayBroken = QStringLiteral("Obrazu nie da się odczytać: plik jest uszkodzony lub niepełny.");
inline const QString kZoomText = QStringLiteral("Powiększenie: %1%");
inline const QString kFittedText = QStringLiteral("Rysunek nie mieścił się w oknie: powiększenie %1%");
inline const QString kMenuHelp = QStringLiteral("&O programie");
inline const QString kMenuAbout = QStringLiteral("&About kav...");

// Status-bar prompts of the menu entries.
inline const QString kPromptNew = QStringLiteral("Nowy projekt.");
inline const QString kPromptOpen = QStringLiteral("Otwórz plik ze współrzędnymi.");
inline const QString kPromptSave = QStringLiteral("Zapisz współrzedne narysowanego objektu.");
inline const QString kPromptAbout = QStringLiteral("Autor i wersja programu.");
inline const QString kPromptExit = QStringLiteral("Wyjście z programu.");

// Blank texts that size the readout panes.
inline const QString kIndicatorX = QString(15, u' ');
inline const QString kIndicatorY = QString(15, u' ');
inline const QString kIndicatorCount = QString(30, u' ');

// What a screen reader calls the readout panes and the view; %1 is the
// number of points.
inline const QString kPaneNameX = QStringLiteral("Położenie x");
inline const QString kPaneNameY = QStringLiteral("Położenie y");
inline const QString kPaneNameCount = QStringLiteral("Liczba punktów");
inline const QString kViewName = QStringLiteral("Obszar rysowania");
inline const QString kViewDescription = QStringLiteral("Liczba punktów: %1");

// Readouts; a leading space marks buffer A.
inline constexpr const char* kReadoutX = "x=%1";
inline constexpr const char* kReadoutY = "y=%1";
inline constexpr const char* kReadoutCountA = " punktów: %1";
inline constexpr const char* kReadoutCountB = "punktów: %1";

// Questions and notices of the view.
inline const QString kJoinText = QStringLiteral("Czy połączyć odcinki?");
inline const QString kJoinCaption = QStringLiteral("Połączyć?");
inline const QString kNewText = QStringLiteral("Czy wyczyścić wszystko?");
inline const QString kNewCaption = QStringLiteral("Nowy");
inline const QString kPointRefusedText
    = QStringLiteral("Nie można dodać punktu: zabrakło pamięci albo osiągnięto największą liczbę punktów.");
inline const QString kPointRefusedCaption = QStringLiteral("Za dużo punktów");
inline const QString kNoPointsText = QStringLiteral("Brak punktów do zapisu");
inline const QString kNoPointsCaption = QStringLiteral("Brak punktów");
inline const QString kReplaceText = QStringLiteral("Czy usunąć isniejące punkty?");
inline const QString kReplaceCaption = QStringLiteral("Usunąć?");

// Recovery after a fault: %1 is when the journal was last written, %2 the
// number of points; %1 below is the reason.
inline const QString kRecoverText
    = QStringLiteral("Program zakończył pracę nieoczekiwanie (%1). Przywrócić narysowane punkty (%2)?");
inline const QString kRecoverCaption = QStringLiteral("Przywrócić?");
inline const QString kRecoveryReadingText = QStringLiteral("Odczytywanie punktów sprzed awarii...");
inline const QString kRecoveryNoMemoryText = QStringLiteral(
    "Rysunek sprzed awarii nie mieści się teraz w pamięci. Zostanie zaproponowany przy następnym uruchomieniu.");
inline const QString kRecoveryUnavailableText = QStringLiteral("Przywracanie rysunku po awarii jest niedostępne. %1");

// File errors: %1 is the file, %2 the reason.
inline const QString kOpenFailedText = QStringLiteral("Nie można otworzyć pliku „%1”.\n%2");
inline const QString kOpenFailedCaption = QStringLiteral("Błąd odczytu");
inline const QString kReadFailedText
    = QStringLiteral("Błąd podczas czytania pliku „%1”.\n%2\nPunkty nie zostały zmienione.");
inline const QString kSaveFailedText = QStringLiteral("Nie można zapisać pliku „%1”.\n%2\nPlik nie został zmieniony.");
inline const QString kSaveFailedCaption = QStringLiteral("Błąd zapisu");
inline const QString kLoadTooLargeText
    = QStringLiteral("Plik „%1” ma za dużo punktów albo zabrakło pamięci.\nPunkty nie zostały zmienione.");
inline const QString kLoadingText = QStringLiteral("Wczytywanie punktów...");
inline const QString kLoadingCaption = QStringLiteral("Wczytywanie");
// %1 megabytes read, %2 points found.
inline const QString kLoadingProgressText = QStringLiteral("Wczytano %1 MB, znaleziono punktów: %2");
inline const QString kSavingText = QStringLiteral("Zapisywanie punktów...");
inline const QString kSavingCaption = QStringLiteral("Zapisywanie");
// %1 megabytes written.
inline const QString kSavingProgressText = QStringLiteral("Zapisano %1 MB");

// Why a file could not be opened, read or written, by the error number
// that the system gave. Permission has a form for reading and for writing.
inline const QString kReasonMissing = QStringLiteral("Nie ma takiego pliku ani katalogu.");
inline const QString kReasonDirectory = QStringLiteral("To jest katalog, nie plik.");
inline const QString kReasonNoReadPermission = QStringLiteral("Brak uprawnień do odczytu.");
inline const QString kReasonNoWritePermission = QStringLiteral("Brak uprawnień do zapisu.");
inline const QString kReasonDiskFull = QStringLiteral("Brak miejsca na dysku.");
inline const QString kReasonNameTooLong = QStringLiteral("Nazwa pliku albo ścieżka jest za długa.");
inline const QString kReasonUnknown = QStringLiteral("Błąd systemu numer %1.");

struct SystemErrorText {
    int error;
    QString text;
};
inline const SystemErrorText kSystemErrorTexts[] = {
    {ENOENT, kReasonMissing},
    {EISDIR, kReasonDirectory},
    {ENOSPC, kReasonDiskFull},
    {ENAMETOOLONG, kReasonNameTooLong},
    {EPERM, QStringLiteral("System nie pozwala na tę operację.")},
    {ENOTDIR, QStringLiteral("Część ścieżki nie jest katalogiem.")},
    {ELOOP, QStringLiteral("Za dużo dowiązań symbolicznych w ścieżce.")},
    {EDQUOT, QStringLiteral("Przekroczono przydział miejsca na dysku.")},
    {EROFS, QStringLiteral("System plików jest tylko do odczytu.")},
    {EIO, QStringLiteral("Błąd wejścia-wyjścia: urządzenie nie odczytało albo nie zapisało danych.")},
    {EMFILE, QStringLiteral("Program ma otwartych za dużo plików.")},
    {ENFILE, QStringLiteral("W systemie jest otwartych za dużo plików.")},
    {ENOMEM, QStringLiteral("Zabrakło pamięci.")},
    {EFBIG, QStringLiteral("Plik byłby za duży.")},
    {ETXTBSY, QStringLiteral("Plik jest używany przez uruchomiony program.")},
    {EBUSY, QStringLiteral("Plik albo urządzenie jest zajęte.")},
    {EXDEV, QStringLiteral("Nie można przenieść pliku na inny system plików.")},
    {EAGAIN, QStringLiteral("Zasób jest chwilowo niedostępny. Spróbuj ponownie.")},
    {EINTR, QStringLiteral("Operacja została przerwana.")},
    {ENXIO, QStringLiteral("Urządzenie albo odbiorca nie jest dostępny.")},
    {ENODEV, QStringLiteral("Nie ma takiego urządzenia.")},
    {EINVAL, QStringLiteral("System plików nie przyjmuje tej nazwy albo operacji.")},
    {EEXIST, QStringLiteral("Plik już istnieje.")},
    {EOVERFLOW, QStringLiteral("Plik jest za duży dla tej operacji.")},
    {EOPNOTSUPP, QStringLiteral("System plików nie obsługuje tej operacji.")},
    {ESTALE, QStringLiteral("Plik sieciowy jest już niedostępny.")},
    {ETIMEDOUT, QStringLiteral("Upłynął czas oczekiwania na urządzenie.")},
    {EPIPE, QStringLiteral("Odbiorca zamknął potok.")},
    {EBADF, QStringLiteral("Pliku nie otwarto do tej operacji.")},
    {ENOLCK, QStringLiteral("Brak wolnych blokad plików.")},
    {ECONNRESET, QStringLiteral("Połączenie z plikiem zostało zerwane.")},
};

// The about box.
inline const QString kAboutCaption = QStringLiteral("About kav");
inline const QString kAboutText = QStringLiteral("Autor: Zespół KAV \n\nWersja: " KAV_VERSION_TEXT);

// The save-format dialog.
inline const QString kFormatSpace = QStringLiteral("Spacja między kolejnymi współrzędnymi");
inline const QString kFormatComma = QStringLiteral("Współrzędne odddzielone przecinkiem");
inline const QString kFormatUser = QStringLiteral("Definicja urzytkownika");
inline const QString kFormatUserBox = QStringLiteral("Format urzytkownika");
inline const QString kFormatHeading = QStringLiteral("Format zapisu współrzędnych do pliku:");
inline const QString kOrderHeading = QStringLiteral("Kolejność zapisu współrzędnych:");
inline const QString kOrderClicks = QStringLiteral("Zapisz w kolejności kliknięć myszki");
inline const QString kOrderReverse = QStringLiteral("Kolejność odwrotna do kliknięć myszki");
inline const QString kCancel = QStringLiteral("Anuluj");
inline const QString kOk = QStringLiteral("OK");

// File dialogs.
inline const QString kFilterAll = QStringLiteral("Wszystkie Pliki (*)");
inline const QString kFilterText = QStringLiteral("Pliki tekstowe (*.txt)");
inline const QString kFilterSvg = QStringLiteral("Rysunek SVG (*.svg)");
inline const QString kFilterDxf = QStringLiteral("Rysunek DXF (*.dxf)");
inline const QString kFilterPng = QStringLiteral("Obraz PNG (*.png)");
inline const QString kFilterImages
    = QStringLiteral("Obrazy (*.png *.jpg *.jpeg *.bmp *.gif *.webp *.tif *.tiff *.svg)");
inline const QString kFilterAnyFile = QStringLiteral("Wszystkie pliki (*)");

// The coordinate listing.
inline const QString kListingCaption = QStringLiteral("Współrzędne");
inline const QString kListingClose = QStringLiteral("Wyjście");

} // namespace kav::ui
