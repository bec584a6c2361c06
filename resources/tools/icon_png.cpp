// Writes the station's icon as a PNG for the desktop's icon theme, drawn by the
// same code as the window icon: karvelo-icon-png SIZE FILE.

#include <QImage>
#include <QString>
#include <cstdio>
#include <cstdlib>

#include "resources/artwork.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: karvelo-icon-png SIZE FILE\n");
        return 2;
    }
    const int size = std::atoi(argv[1]);
    if (size < 16 || size > 1024) {
        std::fprintf(stderr, "karvelo-icon-png: size %s is not from 16 to 1024\n", argv[1]);
        return 2;
    }
    // The icon has no text, so painting it needs neither an application
    // object nor a screen.
    if (!karvelo::app::DrawIcon(size).save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "karvelo-icon-png: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
