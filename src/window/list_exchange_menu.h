// "Import..." and "Export..." in the window's menu: the file dialogs, and
// the core's import and export of the program list (editing/list_exchange.h).
#pragma once

class ProgramEditor;
class QMenu;
class QWidget;

// Adds the two entries to `menu`; their dialogs open over `owner`.
void AddListExchangeEntries(QMenu& menu, QWidget* owner, ProgramEditor& editor);
