#pragma once

#include <QIcon>

// The station's icon: a packed box, drawn rather than shipped as a file.
QIcon programIcon();
