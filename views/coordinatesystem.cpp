#include "coordinatesystem.h"

#include "viewmath.h"

#include <GL/glu.h>
#include <QDebug>
#include <cmath>
#ifdef TACTILON_SANITIZE
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#endif

namespace viewgl {

#ifdef TACTILON_SANITIZE
// Mesa unloads its driver when the display closes, after which the leak checker can neither
// name nor suppress the driver's own one-time allocations; sanitizer builds keep it mapped.
static void keepGlDriverMapped()
{
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *) {
            if (info->dlpi_name && std::strstr(info->dlpi_name, "_dri.so"))
                dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
}
#endif

bool initialize(QOpenGLFunctions_4_5_Core *gl, const char *viewName)
{
#ifdef TACTILON_SANITIZE
    keepGlDriverMapped();
#endif
    if (!gl->initializeOpenGLFunctions()) {
        qDebug().noquote() << QStringLiteral("%1: OpenGL 4.5 functions unavailable, view left blank")
                                  .arg(QLatin1String(viewName));
        return false;
    }
    gl->glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glShadeModel(GL_SMOOTH);
    gl->glClearDepth(1.0);
    gl->glEnable(GL_DEPTH_TEST);
    gl->glDepthFunc(GL_LEQUAL);
    gl->glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    return true;
}

void setPerspective(QOpenGLFunctions_4_5_Core *gl, int w, int h)
{
    if (h == 0)
        h = 1;
    gl->glViewport(0, 0, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, GLdouble(float(w) / float(h)), 0.001, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void rotate(const QVector3D &rotationX, const QVector3D &rotationY)
{
    // A zero axis has no direction; some drivers turn it into a NaN matrix.
    if (rotationX.x() != 0.0f)
        glRotatef(std::fabs(rotationX.z()), rotationX.x(), 0.0f, 0.0f);
    if (rotationY.y() != 0.0f)
        glRotatef(std::fabs(rotationY.z()), 0.0f, rotationY.y(), 0.0f);
}

void colour(const QColor &c)
{
    glColor3f(c.redF(), c.greenF(), c.blueF());
}

void drawText(QOpenGLFunctions_4_5_Core *gl, const QVector3D &position, const QColor &c,
              const QString &text, int pointSize)
{
    for (const QList<QVector3D> &loop : textLoops(position, text, pointSize)) {
        gl->glLineWidth(3.0f);
        glBegin(GL_LINE_LOOP);
        colour(c);
        for (const QVector3D &v : loop)
            glVertex3f(v.x(), v.y(), v.z());
        glEnd();
    }
}

} // namespace viewgl

CoordinateSystem::CoordinateSystem(QWidget *parent)
    : QOpenGLWidget(parent)
{
}

CoordinateSystem::~CoordinateSystem()
{
    makeCurrent();
    doneCurrent();
}

void CoordinateSystem::initializeGL()
{
    qDebug() << "initializeGL";
    m_glReady = viewgl::initialize(this, "CoordinateSystem");
}

void CoordinateSystem::resizeGL(int w, int h)
{
    qDebug() << "resizeGL";
    if (m_glReady)
        viewgl::setPerspective(this, w, h);
}

void CoordinateSystem::updateIfChanged()
{
    if (m_paintedSize != size() || m_paintedX != m_rotationX || m_paintedY != m_rotationY)
        update();
}

void CoordinateSystem::paintGL()
{
    m_paintedX = m_rotationX;
    m_paintedY = m_rotationY;
    m_paintedSize = size();
    if (!m_glReady)
        return;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, -15.0f);
    viewgl::rotate(m_rotationX, m_rotationY);

    const QVector3D origin;
    glPushMatrix();
    drawAxis(origin, QVector3D(4.5f, 0, 0), QColor(255, 0, 0), QStringLiteral("X"));
    glPopMatrix();
    glPushMatrix();
    drawAxis(origin, QVector3D(0, 4.5f, 0), QColor(0, 0, 255), QStringLiteral("Y"));
    glPopMatrix();
    glPushMatrix();
    drawAxis(origin, QVector3D(0, 0, 4.5f), QColor(0, 255, 0), QStringLiteral("Z"));
    glPopMatrix();
}

// GL Y is drawn as the sensor's Z and GL Z as its Y, hence the crossed labels.
void CoordinateSystem::drawAxis(const QVector3D &start, const QVector3D &end, const QColor &colour,
                                const QString &name)
{
    const QColor white(255, 255, 255);
    glLineWidth(5.0f);
    glEnable(GL_LINE_SMOOTH);
    glBegin(GL_LINES);
    viewgl::colour(colour);
    glVertex3f(start.x(), start.y(), start.z());
    glVertex3f(end.x(), end.y(), end.z());
    glEnd();

    GLUquadric *quadric = gluNewQuadric();
    glTranslatef(end.x(), end.y(), end.z());
    if (name == QLatin1String("X")) {
        viewgl::drawText(this, QVector3D(-1.2f, 0.5f, 0), white, QStringLiteral("x"));
        glRotatef(90.0f, 0, 1, 0);
    } else if (name == QLatin1String("Y")) {
        viewgl::drawText(this, QVector3D(-1.2f, -1.3f, 0), white, QStringLiteral("z"));
        glRotatef(-90.0f, 1, 0, 0);
    } else {
        glRotatef(90.0f, 0, 1, 0);
        viewgl::drawText(this, QVector3D(0.5f, 0.7f, 0), white, QStringLiteral("y"));
        glRotatef(-90.0f, 0, 1, 0);
    }
    viewgl::colour(colour);
    if (quadric) {
        gluCylinder(quadric, 0.5, 0.0, 1.3, 100, 1);
        gluDeleteQuadric(quadric);
    }
}
