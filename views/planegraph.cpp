#include "planegraph.h"

#include "coordinatesystem.h"

#include <QSurfaceFormat>

PlaneGraph::PlaneGraph(QWidget *parent)
    : QOpenGLWidget(parent)
    , m_updateTimer(new QTimer(this))
{
    QSurfaceFormat surface = format();
    surface.setSamples(4);
    setFormat(surface);
    m_updateTimer->setInterval(30);
    connect(m_updateTimer, &QTimer::timeout, this, &PlaneGraph::UpdateSlots);
}

PlaneGraph::~PlaneGraph()
{
    makeCurrent();
    doneCurrent();
}

void PlaneGraph::setSensorNum(int n)
{
    m_sensorNum = n;
    m_cell = planeCellSize(n, m_plane);
}

void PlaneGraph::setRunning(bool running)
{
    m_running = running;
    if (m_ticks) {
        if (running)
            connect(m_ticks, &QTimer::timeout, this, &PlaneGraph::UpdateSlots, Qt::UniqueConnection);
        else
            disconnect(m_ticks, &QTimer::timeout, this, &PlaneGraph::UpdateSlots);
    } else if (running) {
        m_updateTimer->start(30);
    } else {
        m_updateTimer->stop();
    }
}

void PlaneGraph::setTickSource(QTimer *ticks)
{
    const bool running = m_running;
    setRunning(false);
    m_ticks = ticks;
    setRunning(running);
}

QList<QRgb> PlaneGraph::cellTints() const
{
    QList<QRgb> tints;
    const qsizetype cells = planeCellCorners(m_sensorNum, int(m_vectors.size()), m_cell, m_plane).size();
    for (qsizetype i = 0; i < cells; ++i)
        tints.append(forceColour(m_vectors[i]).rgb());
    return tints;
}

void PlaneGraph::UpdateSlots()
{
    if (m_paintedSensorNum != m_sensorNum || m_paintedSize != size() || m_paintedTints != cellTints())
        update();
}

void PlaneGraph::initializeGL()
{
    m_glReady = viewgl::initialize(this, "PlaneGraph");
}

void PlaneGraph::resizeGL(int w, int h)
{
    if (m_glReady)
        viewgl::setPerspective(this, w, h);
}

void PlaneGraph::paintGL()
{
    m_paintedSensorNum = m_sensorNum;
    m_paintedSize = size();
    m_paintedTints = cellTints();
    if (!m_glReady)
        return;
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, float(m_cameraDistance));

    // The panel is white, brighter than an idle cell's grey.
    const float hw = m_plane.width / 2, hh = m_plane.height / 2;
    glBegin(GL_QUADS);
    glColor3f(1.0f, 1.0f, 1.0f);
    glVertex3f(-hw, -hh, 0.0f);
    glVertex3f(hw, -hh, 0.0f);
    glVertex3f(hw, hh, 0.0f);
    glVertex3f(-hw, hh, 0.0f);
    glEnd();

    glPushMatrix();
    const QList<QPointF> corners = planeCellCorners(m_sensorNum, int(m_vectors.size()), m_cell, m_plane);
    glBegin(GL_QUADS);
    for (int i = 0; i < corners.size(); ++i) {
        const float x = float(corners[i].x()), y = float(corners[i].y());
        viewgl::colour(forceColour(m_vectors[i]));
        glVertex3f(x, y, 0.1f);
        glVertex3f(x + m_cell.width, y, 0.1f);
        glVertex3f(x + m_cell.width, y - m_cell.height, 0.1f);
        glVertex3f(x, y - m_cell.height, 0.1f);
    }
    glEnd();
    glPopMatrix();
}
