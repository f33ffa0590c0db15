#pragma once

namespace tessary {

class MechanismDatabase;

// Appends the 29 factory mechanisms, in their fixed order, to the database.
// Nothing is cleared first and nothing else (file name, modified flag,
// selection, status line) is touched: the caller sets the status text.
void FillFactoryList(MechanismDatabase &database);

} // namespace tessary
