#include "curvemath.h"

#include <cmath>

namespace {

// Coefficients per output: x, y, z, x·y, x·z, y·z, x², y², z².
constexpr double coefficients[3][9] = {
    {0.072602592668408, 0.00397963108280683, -0.00252111322215545, 6.97107980683785e-06,
     5.45536619825583e-06, -3.96515150461183e-07, 8.96776937872258e-07, -8.32133230714163e-07,
     1.18143847642907e-08},
    {0.0347065054157915, 0.0265543932983968, -0.00297659067505035, 2.72191095265331e-06,
     5.52610787466307e-06, -1.45492421725733e-06, 6.47732693768636e-07, 5.32481534176213e-06,
     -2.13028130182367e-06},
    {-0.0377554755112593, 0.174309392730712, 0.0520346851805642, 1.06496189045393e-05,
     -1.69911521444058e-06, 1.86701158564698e-05, 1.24118280172224e-05, 5.40814299256013e-06,
     8.38545467874155e-06},
};

// The order of the terms and of each product is fixed so results match to the last bit
// wherever a value sits close to an integer.
double polynomial(const double (&c)[9], double x, double y, double z)
{
    double sum = c[0] * x;
    sum += c[1] * y;
    sum += c[2] * z;
    sum += (x * c[3]) * y;
    sum += (x * c[4]) * z;
    sum += (y * c[5]) * z;
    sum += (x * c[6]) * x;
    sum += (y * c[7]) * y;
    sum += (z * c[8]) * z;
    return sum;
}

constexpr unsigned char colourTable[16][3][3] = {
    {{255, 255, 0}, {176, 224, 230}, {160, 32, 240}},
    {{227, 207, 87}, {65, 105, 225}, {160, 102, 211}},
    {{255, 153, 18}, {106, 90, 205}, {218, 112, 214}},
    {{235, 142, 85}, {0, 255, 255}, {221, 160, 221}},
    {{255, 227, 132}, {56, 94, 15}, {255, 0, 0}},
    {{255, 210, 0}, {8, 46, 84}, {176, 48, 96}},
    {{218, 165, 105}, {107, 142, 35}, {255, 192, 203}},
    {{255, 97, 0}, {127, 255, 212}, {150, 128, 114}},
    {{237, 145, 33}, {64, 224, 208}, {255, 99, 71}},
    {{255, 128, 0}, {0, 255, 0}, {255, 182, 193}},
    {{245, 222, 179}, {61, 145, 64}, {220, 20, 60}},
    {{128, 42, 42}, {0, 201, 87}, {219, 112, 147}},
    {{188, 143, 143}, {107, 142, 35}, {210, 180, 140}},
    {{115, 74, 18}, {46, 137, 87}, {221, 160, 221}},
    {{94, 38, 18}, {0, 0, 255}, {199, 21, 133}},
    {{244, 164, 96}, {61, 89, 171}, {216, 191, 216}},
};

} // namespace

int16_t wrapToInt16(double value)
{
    if (!std::isfinite(value))
        return 0;
    // fmod is exact, so this wraps any magnitude without an out-of-range conversion.
    int low = int(std::fmod(std::trunc(value), 65536.0));
    if (low < 0)
        low += 65536;
    return int16_t(low >= 32768 ? low - 65536 : low);
}

Axit_t convertDemarcated(const Axit_t &raw)
{
    const double x = raw.x, y = raw.y, z = raw.z;
    Axit_t out;
    out.x = wrapToInt16(polynomial(coefficients[0], x, y, z));
    out.y = wrapToInt16(polynomial(coefficients[1], x, y, z));
    out.z = wrapToInt16(polynomial(coefficients[2], x, y, z));
    return out;
}

CurveSample curveSample(const Axit_t &raw, int dataMode)
{
    CurveSample s;
    if (dataMode == 0) {
        s.value = convertDemarcated(raw);
        s.vector = QVector3D(float(s.value.x) / 1000.0f, float(s.value.y) / 1000.0f,
                             float(s.value.z) / 1000.0f);
    } else {
        s.value = raw;
        s.vector = QVector3D(float(raw.x) / 10000.0f, float(raw.y) / 10000.0f, float(raw.z) / 10000.0f);
    }
    return s;
}

int keptXRange(double lower, double upper, int xRange)
{
    const double span = upper - lower;
    // Compared as a double: a span truncated to 51..999 is exactly one in [51, 1000).
    if (span >= 51.0 && span < 1000.0)
        return int(span);
    return xRange;
}

QColor axisColour(int sensor, int axis)
{
    if (sensor < 0 || sensor >= 16 || axis < 0 || axis >= 3)
        return QColor(Qt::darkGray);
    const unsigned char *c = colourTable[sensor][axis];
    return QColor(c[0], c[1], c[2]);
}
