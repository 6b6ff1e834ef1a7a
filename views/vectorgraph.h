#pragma once

#include "viewmath.h"

#include <QList>
#include <QOpenGLFunctions_4_5_Core>
#include <QOpenGLWidget>
#include <QPointF>
#include <QPointer>
#include <QTimer>
#include <QVector3D>

class CoordinateSystem;

// One box per sensor with a yellow arrow for its force; drag to turn (left) or pan (right),
// wheel to move the camera.
class VectorGraph : public QOpenGLWidget, protected QOpenGLFunctions_4_5_Core
{
    Q_OBJECT

public:
    explicit VectorGraph(QWidget *parent = nullptr);
    ~VectorGraph() override;

    // The triad overlay, a child of this view; not owned.
    void setCoordinateSystem(CoordinateSystem *overlay);
    // The layout follows in the next paint.
    void setSensorNum(int n) { m_sensorNum = n; }
    void setVectors(const QList<QVector3D> &vectors) { m_vectors = vectors; }
    // While running, looks every 30 ms whether this view or the overlay would draw anything
    // new, and repaints only then.
    void setRunning(bool running);
    // Takes those looks on the given timer's ticks instead of the view's own timer, so that a
    // window holding several views composes them once per tick. Not owned; null: own timer.
    void setTickSource(QTimer *ticks);

    CoordinateSystem *coordinateSystem() const { return m_overlay; }
    int sensorNum() const { return m_sensorNum; }
    QList<QVector3D> vectors() const { return m_vectors; }
    QList<QVector3D> displayVectors() const { return m_displayVectors; }
    int cameraDistance() const { return m_cameraDistance; }
    QVector3D pan() const { return m_pan; }
    QVector3D rotationX() const { return m_rotationX; }
    QVector3D rotationY() const { return m_rotationY; }
    BoxSize boxSize() const { return m_box; }
    bool isRunning() const { return m_running; }
    const QTimer *updateTimer() const { return m_ticks ? m_ticks.data() : m_updateTimer; }
    bool isGlReady() const { return m_glReady; }

public slots:
    void UpdateSlots();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

private:
    // Everything a frame of this view depends on; a frame equal to the one on screen is not drawn.
    struct Scene
    {
        int sensorNum = -1;
        QList<QVector3D> arrows;
        int cameraDistance = 0;
        QVector3D pan, rotationX, rotationY;
        QSize size;
        bool operator==(const Scene &o) const
        {
            return sensorNum == o.sensorNum && arrows == o.arrows && cameraDistance == o.cameraDistance
                   && pan == o.pan && rotationX == o.rotationX && rotationY == o.rotationY && size == o.size;
        }
    };
    Scene scene() const;
    void placeOverlay();
    void drawSensor(const QVector3D &corner, const QColor &colour, int index);
    void drawBox(const QVector3D &corner, const QColor &colour);
    void drawArrow(const QVector3D &from, const QVector3D &to, const QColor &colour);

    int m_cameraDistance = -15;
    QVector3D m_pan{-0.8f, 0.0f, 2.0f};
    QPointF m_lastMouse{0, 0};
    QVector3D m_rotationX{30, 0, 30};
    QVector3D m_rotationY{0, 30, 30};
    BoxSize m_box;
    int m_sensorNum = 1;
    QList<QVector3D> m_vectors;
    QList<QVector3D> m_displayVectors;
    QTimer *m_updateTimer;
    QPointer<QTimer> m_ticks;
    bool m_running = false;
    Scene m_painted;
    QPointer<CoordinateSystem> m_overlay;
    bool m_glReady = false;
};
