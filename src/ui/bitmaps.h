// The indicator bitmaps and pictures of the program, by resource id.
#pragma once

#include <QPixmap>

class QLabel;

namespace zorvane {

namespace bmp {
inline constexpr int kLampGreen = 140;
inline constexpr int kLampRed = 141;
inline constexpr int kLampGrey = 145;
inline constexpr int kLampYellow = 155;
inline constexpr int kThreePhaseMaster = 146;
inline constexpr int kThreePhaseSlave = 147;
inline constexpr int kParallelMaster = 148;
inline constexpr int kParallelSlave = 149;
inline constexpr int kKxSchematic = 150;
inline constexpr int kQmSchematic = 169;
inline constexpr int kLogo = 166;
// No image: a lamp whose state has not been read shows nothing.
inline constexpr int kNothing = 0;
}  // namespace bmp

// Loaded once from the compiled-in resources (":/bitmaps/<id>.svg" or .png)
// and kept for the life of the program; a null pixmap for an unknown id.
const QPixmap& bitmap(int id);

// Shows bitmap `id` in a picture control; does nothing when it already does.
void set_bitmap(QLabel* picture, int id);

}  // namespace zorvane
