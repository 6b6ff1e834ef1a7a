#pragma once

#include <QString>

// The look of the tool's value tables: white and light grey rows, a blue header.
QString tableStyleSheet();
