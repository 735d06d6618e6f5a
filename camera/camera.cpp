#include "camera/camera.h"

#include <cmath>
#include <cstdio>

#include "base/message_output.h"
#include "console/console_object.h"

Camera g_camera;

namespace {

D3DXVECTOR3 Cross(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

float Dot(const D3DXVECTOR3& a, const D3DXVECTOR3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// A vector of length 0 stays as it is.
void Normalise(D3DXVECTOR3* v) {
    const float length = std::sqrt(Dot(*v, *v));
    if (length == 0.0f) return;
    v->x /= length;
    v->y /= length;
    v->z /= length;
}

// v rotated about the unit axis by angle radians.
D3DXVECTOR3 Rotate(const D3DXVECTOR3& v, const D3DXVECTOR3& axis, double angle) {
    const float c = static_cast<float>(std::cos(angle));
    const float s = static_cast<float>(std::sin(angle));
    const D3DXVECTOR3 across = Cross(axis, v);
    const float along = Dot(axis, v) * (1.0f - c);
    return {v.x * c + across.x * s + axis.x * along, v.y * c + across.y * s + axis.y * along,
            v.z * c + across.z * s + axis.z * along};
}

float WrapDegrees(float angle) {
    if (angle > 360.0f) return angle - 360.0f;
    if (angle < -360.0f) return angle + 360.0f;
    return angle;
}

// Reads a float as "%f" does; text that does not parse gives 0.
float ParseFloat(const char* text) {
    float value = 0.0f;
    if (text == nullptr || std::sscanf(text, "%f", &value) != 1) return 0.0f;
    return value;
}

int32_t SetPositionCommand(int32_t, int32_t argc, int32_t, const ConsoleArgument* argv) {
    if (argc != 3 || argv == nullptr) {
        PrintLine("syntax: v_setpos x y z");
        return 0;
    }
    g_camera.SetPosition(
        D3DXVECTOR3(ParseFloat(argv[0].text), ParseFloat(argv[1].text), ParseFloat(argv[2].text)));
    return 1;
}

int32_t SetViewCommand(int32_t, int32_t argc, int32_t, const ConsoleArgument* argv) {
    if (argc != 3 || argv == nullptr) {
        PrintLine("syntax: v_setview pitch yaw roll");
        return 0;
    }
    const float pitch = ParseFloat(argv[0].text);
    const float yaw = ParseFloat(argv[1].text);
    const float roll = ParseFloat(argv[2].text);
    g_camera.ResetView(yaw, pitch, roll);
    return 1;
}

ConsoleCommand v_setpos("v_setpos", SetPositionCommand);
ConsoleCommand v_setview("v_setview", SetViewCommand);

}  // namespace

Camera::Camera() {
    D3DXMatrixIdentity(&view_);
    D3DXMatrixIdentity(&projection_);
}

void Camera::Pitch(float delta) {
    const float pitch = pitch_ + delta;
    if (pitch > 89.0f || pitch < -89.0f) return;  // refused whole, not clamped
    pitch_ = WrapDegrees(pitch);
    look_ = Rotate(look_, left_, delta * kDegreesToRadians);
    Normalise(&look_);
}

void Camera::Yaw(float delta) {
    yaw_ = WrapDegrees(yaw_ - delta);
    up_ = D3DXVECTOR3(0.0f, 1.0f, 0.0f);
    const double angle = -delta * kDegreesToRadians;
    look_ = Rotate(look_, up_, angle);
    left_ = Rotate(left_, up_, angle);
    levelForward_ = Rotate(levelForward_, up_, angle);
    Normalise(&look_);
    Normalise(&levelForward_);
    Normalise(&left_);
}

void Camera::UpdateView(float yawDelta, float pitchDelta, float) {
    Pitch(pitchDelta);
    Yaw(yawDelta);
    RebuildView();
    RebuildFrustum();
    previousPosition_ = position_;
}

void Camera::ResetView(float yaw, float pitch, float roll) {
    roll_ = 0.0f;
    pitch_ = 0.0f;
    yaw_ = 0.0f;
    look_ = D3DXVECTOR3(0.0f, 0.0f, -1.0f);
    up_ = D3DXVECTOR3(0.0f, 1.0f, 0.0f);
    left_ = D3DXVECTOR3(1.0f, 0.0f, 0.0f);
    levelForward_ = D3DXVECTOR3(0.0f, 0.0f, -1.0f);
    UpdateView(yaw, pitch, roll);
}

void Camera::SetPosition(const D3DXVECTOR3& point) {
    position_ = point;
    previousPosition_ = point;
}

void Camera::SetProjection(float fieldOfView, float zNear, float zFar, float width, float height) {
    fieldOfView_ = fieldOfView;
    zNear_ = zNear;
    zFar_ = zFar;
    D3DXMatrixPerspectiveFovLH(&projection_, fieldOfView, width / height, zNear, zFar);
}

void Camera::SetAspect(float width, float height) {
    if (!(width > 0.0f) || !(height > 0.0f)) return;
    D3DXMatrixPerspectiveFovLH(&projection_, fieldOfView_, width / height, zNear_, zFar_);
    RebuildFrustum();
}

void Camera::RebuildView() {
    const D3DXVECTOR3 eye(position_.x + eyeOffset_.x, position_.y + eyeOffset_.y,
                          position_.z + eyeOffset_.z);
    const D3DXVECTOR3 target(eye.x + look_.x, eye.y + look_.y, eye.z + look_.z);
    D3DXMatrixLookAtLH(&view_, &eye, &target, &up_);
}

void Camera::RebuildFrustum() {
    D3DXMATRIX m;
    D3DXMatrixMultiply(&m, &view_, &projection_);
    // Column k of m as a plane; the six planes in their fixed order.
    auto column = [&m](int k) { return Plane{m.m[0][k], m.m[1][k], m.m[2][k], m.m[3][k]}; };
    auto combine = [](const Plane& p, const Plane& q, float sign) {
        return Plane{p.a + sign * q.a, p.b + sign * q.b, p.c + sign * q.c, p.d + sign * q.d};
    };
    const Plane w = column(3);
    frustum_[0] = combine(w, column(0), -1.0f);
    frustum_[1] = combine(w, column(0), 1.0f);
    frustum_[2] = combine(w, column(1), 1.0f);
    frustum_[3] = combine(w, column(1), -1.0f);
    frustum_[4] = combine(w, column(2), -1.0f);
    frustum_[5] = combine(w, column(2), 1.0f);
    for (Plane& p : frustum_) {
        const float length = std::sqrt(p.a * p.a + p.b * p.b + p.c * p.c);
        if (length == 0.0f) continue;
        p.a /= length;
        p.b /= length;
        p.c /= length;
        p.d /= length;
    }
}

bool Camera::BoxInFrustum(const D3DXVECTOR3& lo, const D3DXVECTOR3& hi) const {
    for (const Plane& p : frustum_) {
        bool allOutside = true;
        for (int corner = 0; corner < 8 && allOutside; ++corner) {
            const float x = (corner & 1) ? hi.x : lo.x;
            const float y = (corner & 2) ? hi.y : lo.y;
            const float z = (corner & 4) ? hi.z : lo.z;
            if (p.a * x + p.b * y + p.c * z + p.d > 0.0f) allOutside = false;
        }
        if (allOutside) return false;
    }
    return true;
}
