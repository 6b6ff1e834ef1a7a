#pragma once

#include <QColor>
#include <QOpenGLFunctions_4_5_Core>
#include <QOpenGLWidget>
#include <QVector3D>

// The small axis triad that the vector view keeps in its bottom-left corner, turned with it.
class CoordinateSystem : public QOpenGLWidget, protected QOpenGLFunctions_4_5_Core
{
    Q_OBJECT

public:
    explicit CoordinateSystem(QWidget *parent = nullptr);
    ~CoordinateSystem() override;

    // Records (a, 0, a) and (0, b, b): a degrees about X, then b about Y. No repaint is requested.
    void setRotationX(const QVector3D &rotation) { m_rotationX = rotation; }
    void setRotationY(const QVector3D &rotation) { m_rotationY = rotation; }

    // Repaints unless the frame on screen already shows the recorded rotation.
    void updateIfChanged();

    QVector3D rotationX() const { return m_rotationX; }
    QVector3D rotationY() const { return m_rotationY; }
    bool isGlReady() const { return m_glReady; }

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

private:
    void drawAxis(const QVector3D &start, const QVector3D &end, const QColor &colour, const QString &name);

    QVector3D m_rotationX{30, 0, 30};
    QVector3D m_rotationY{0, 30, 30};
    // What the frame on screen was drawn for; a size of -1 until the first frame.
    QVector3D m_paintedX, m_paintedY;
    QSize m_paintedSize{-1, -1};
    bool m_glReady = false;
};

// Fixed-function helpers shared by the three views; they expect the view's context current.
namespace viewgl {
// Clear state, smooth shading, depth test; false (after one diagnostic line) when the
// context lacks the functions the views need.
bool initialize(QOpenGLFunctions_4_5_Core *gl, const char *viewName);
void setPerspective(QOpenGLFunctions_4_5_Core *gl, int w, int h);
// Turns by |x.z| degrees about (x.x, 0, 0), then by |y.z| about (0, y.y, 0).
void rotate(const QVector3D &rotationX, const QVector3D &rotationY);
void colour(const QColor &c);
// Outline text, 0.1 scene unit per font pixel, standing in the XY plane at the position.
void drawText(QOpenGLFunctions_4_5_Core *gl, const QVector3D &position, const QColor &colour,
              const QString &text, int pointSize = 12);
}
