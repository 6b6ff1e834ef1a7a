#include "vectorgraph.h"

#include "coordinatesystem.h"

#include <GL/glu.h>
#include <QDebug>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QSurfaceFormat>
#include <QWheelEvent>

VectorGraph::VectorGraph(QWidget *parent)
    : QOpenGLWidget(parent)
    , m_updateTimer(new QTimer(this))
{
    QSurfaceFormat surface = format();
    surface.setSamples(4);
    setFormat(surface);
    m_updateTimer->setInterval(30);
    connect(m_updateTimer, &QTimer::timeout, this, &VectorGraph::UpdateSlots);
}

VectorGraph::~VectorGraph()
{
    makeCurrent();
    doneCurrent();
}

void VectorGraph::setCoordinateSystem(CoordinateSystem *overlay)
{
    m_overlay = overlay;
    placeOverlay();
}

void VectorGraph::setRunning(bool running)
{
    m_running = running;
    if (m_ticks) {
        if (running)
            connect(m_ticks, &QTimer::timeout, this, &VectorGraph::UpdateSlots, Qt::UniqueConnection);
        else
            disconnect(m_ticks, &QTimer::timeout, this, &VectorGraph::UpdateSlots);
    } else if (running) {
        m_updateTimer->start(30);
    } else {
        m_updateTimer->stop();
    }
}

void VectorGraph::setTickSource(QTimer *ticks)
{
    const bool running = m_running;
    setRunning(false);
    m_ticks = ticks;
    setRunning(running);
}

VectorGraph::Scene VectorGraph::scene() const
{
    Scene s;
    s.sensorNum = m_sensorNum;
    for (const QVector3D &v : m_vectors)
        s.arrows.append(displayVector(v));
    s.cameraDistance = m_cameraDistance;
    s.pan = m_pan;
    s.rotationX = m_rotationX;
    s.rotationY = m_rotationY;
    s.size = size();
    return s;
}

// A stream at rest changes nothing on screen, and the window need not be composed for it.
void VectorGraph::UpdateSlots()
{
    if (!(scene() == m_painted))
        update();
    if (m_overlay)
        m_overlay->updateIfChanged();
}

// The base handlers leave the events ignored; accepting them keeps the parent from acting too.
void VectorGraph::mousePressEvent(QMouseEvent *event)
{
    QOpenGLWidget::mousePressEvent(event);
    event->accept();
    m_lastMouse = pointerToScene(event->position(), size());
}

void VectorGraph::mouseMoveEvent(QMouseEvent *event)
{
    QOpenGLWidget::mouseMoveEvent(event);
    event->accept();
    if (event->buttons() == Qt::NoButton)
        return;
    const QPointF o = pointerToScene(event->position(), size());
    const double dx = o.x() - m_lastMouse.x();
    const double dy = o.y() - m_lastMouse.y();
    if (event->buttons() & Qt::LeftButton) {
        const float a = m_rotationX.x() + float(100.0 * dy);
        const float b = m_rotationY.y() + float(100.0 * dx);
        m_rotationX = QVector3D(a, 0, a);
        m_rotationY = QVector3D(0, b, b);
        if (m_overlay) {
            m_overlay->setRotationX(m_rotationX);
            m_overlay->setRotationY(m_rotationY);
        }
    }
    if (event->buttons() & Qt::RightButton) {
        m_pan.setX(m_pan.x() + float(10.0 * dx));
        m_pan.setY(m_pan.y() - float(10.0 * dy));
    }
    m_lastMouse = o;
    update();
}

void VectorGraph::mouseReleaseEvent(QMouseEvent *event)
{
    QOpenGLWidget::mouseReleaseEvent(event);
    event->accept();
    m_lastMouse = QPointF(0, 0);
}

void VectorGraph::wheelEvent(QWheelEvent *event)
{
    QOpenGLWidget::wheelEvent(event);
    event->accept();
    const int delta = event->angleDelta().y();
    if (delta > 0 && m_cameraDistance < -1)
        ++m_cameraDistance;
    else if (delta < 0 && m_cameraDistance > -100)
        --m_cameraDistance;
    update();
}

void VectorGraph::resizeEvent(QResizeEvent *event)
{
    QOpenGLWidget::resizeEvent(event);
    placeOverlay();
}

// In this view's own coordinates, so the corner is right wherever the view sits in its parent.
void VectorGraph::placeOverlay()
{
    if (m_overlay)
        m_overlay->move(0, height() - m_overlay->height());
}

void VectorGraph::initializeGL()
{
    qDebug() << "initializeGL";
    m_glReady = viewgl::initialize(this, "VectorGraph");
}

void VectorGraph::resizeGL(int w, int h)
{
    if (m_glReady)
        viewgl::setPerspective(this, w, h);
}

void VectorGraph::paintGL()
{
    if (!m_glReady)
        return;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, float(m_cameraDistance));
    viewgl::rotate(m_rotationX, m_rotationY);

    m_painted = scene();
    m_displayVectors = m_painted.arrows;

    const QList<SensorBox> boxes = sensorBoxes(m_sensorNum, m_box);
    for (int i = 0; i < boxes.size(); ++i)
        drawSensor(boxes[i].corner, boxes[i].colour, i);
}

void VectorGraph::drawSensor(const QVector3D &p, const QColor &colour, int index)
{
    glPushMatrix();
    drawBox(p, colour);
    glPopMatrix();

    const QVector3D top(p.x() + m_box.width / 2, p.y() + m_box.height, p.z() + m_box.depth / 2);
    glPushMatrix();
    glTranslatef(m_pan.x(), m_pan.y(), m_pan.z());
    viewgl::drawText(this, QVector3D(top.x() - m_box.width / 4, top.y(), top.z()), labelColour(),
                     QString::number(index), 5);
    glPopMatrix();

    if (index < m_displayVectors.size()) {
        glPushMatrix();
        drawArrow(top, top + m_displayVectors[index], arrowColour());
        glPopMatrix();
    }
}

void VectorGraph::drawBox(const QVector3D &p, const QColor &colour)
{
    const float x0 = p.x(), y0 = p.y(), z0 = p.z();
    const float x1 = x0 + m_box.width, y1 = y0 + m_box.height, z1 = z0 + m_box.depth;
    const QColor dark = shadedColour(colour);
    // Each face: two vertices in the colour, then two darker ones, shaded in between.
    const float faces[6][4][3] = {
        {{x1, y1, z0}, {x0, y1, z0}, {x0, y1, z1}, {x1, y1, z1}}, // top
        {{x1, y0, z1}, {x0, y0, z1}, {x0, y0, z0}, {x1, y0, z0}}, // bottom
        {{x1, y1, z1}, {x0, y1, z1}, {x0, y0, z1}, {x1, y0, z1}}, // z + depth
        {{x0, y1, z0}, {x1, y1, z0}, {x1, y0, z0}, {x0, y0, z0}}, // z
        {{x0, y1, z1}, {x0, y1, z0}, {x0, y0, z0}, {x0, y0, z1}}, // left
        {{x1, y1, z0}, {x1, y1, z1}, {x1, y0, z1}, {x1, y0, z0}}, // right
    };
    glTranslatef(m_pan.x(), m_pan.y(), m_pan.z());
    // Forces in the floor plane lie on the top faces; pushing the faces back a little keeps
    // those arrows from fighting the faces for depth.
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1.0f, 1.0f);
    glBegin(GL_QUADS);
    for (const auto &face : faces) {
        for (int v = 0; v < 4; ++v) {
            viewgl::colour(v < 2 ? colour : dark);
            glVertex3f(face[v][0], face[v][1], face[v][2]);
        }
    }
    glEnd();
    glDisable(GL_POLYGON_OFFSET_FILL);
}

void VectorGraph::drawArrow(const QVector3D &from, const QVector3D &to, const QColor &colour)
{
    const QVector3D d = to - from;
    if (d.isNull())
        return;
    glTranslatef(m_pan.x(), m_pan.y(), m_pan.z());
    glLineWidth(5.0f);
    glEnable(GL_LINE_SMOOTH);
    glBegin(GL_LINES);
    viewgl::colour(colour);
    glVertex3f(from.x(), from.y(), from.z());
    glVertex3f(to.x(), to.y(), to.z());
    glEnd();

    glTranslatef(to.x(), to.y(), to.z());
    const ArrowAngles angles = arrowAngles(d);
    glRotatef(float(-angles.heading), 0, 0, 1);
    glRotatef(float(angles.elevation), 1, 0, 0);
    glBegin(GL_TRIANGLES);
    viewgl::colour(colour);
    glVertex3f(0.0f, 0.5f, 0.0f);
    glVertex3f(-0.3f, 0.0f, 0.0f);
    glVertex3f(0.3f, 0.0f, 0.0f);
    glEnd();
}
