#pragma once

#include "viewmath.h"

#include <QList>
#include <QOpenGLFunctions_4_5_Core>
#include <QOpenGLWidget>
#include <QPointer>
#include <QTimer>
#include <QVector3D>

// The sensor array seen from the front: one cell per sensor, tinted by its force.
class PlaneGraph : public QOpenGLWidget, protected QOpenGLFunctions_4_5_Core
{
    Q_OBJECT

public:
    explicit PlaneGraph(QWidget *parent = nullptr);
    ~PlaneGraph() override;

    // Selects the cell layout; no repaint is requested.
    void setSensorNum(int n);
    void setVectors(const QList<QVector3D> &vectors) { m_vectors = vectors; }
    // While running, looks every 30 ms whether a cell changed its tint, and repaints only then.
    void setRunning(bool running);
    // As VectorGraph::setTickSource.
    void setTickSource(QTimer *ticks);

    int sensorNum() const { return m_sensorNum; }
    QList<QVector3D> vectors() const { return m_vectors; }
    int cameraDistance() const { return m_cameraDistance; }
    float cellWidth() const { return m_cell.width; }
    float cellHeight() const { return m_cell.height; }
    PlaneGeometry plane() const { return m_plane; }
    bool isRunning() const { return m_running; }
    const QTimer *updateTimer() const { return m_ticks ? m_ticks.data() : m_updateTimer; }
    bool isGlReady() const { return m_glReady; }

public slots:
    void UpdateSlots();

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

private:
    // The tint of every drawn cell, the layout and the size: all a frame depends on.
    QList<QRgb> cellTints() const;

    int m_sensorNum = 1;
    QList<QVector3D> m_vectors;
    int m_cameraDistance = -15;
    PlaneGeometry m_plane;
    CellSize m_cell;
    QTimer *m_updateTimer;
    QPointer<QTimer> m_ticks;
    bool m_running = false;
    QList<QRgb> m_paintedTints;
    int m_paintedSensorNum = -1;
    QSize m_paintedSize;
    bool m_glReady = false;
};
