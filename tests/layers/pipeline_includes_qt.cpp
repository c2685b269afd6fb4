// A core file may not include Qt.
#include <QString>
