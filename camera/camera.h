// The camera: the viewer's position and orientation, the view and projection
// matrices the renderer uses, and the frustum planes world drawing culls
// against. There is exactly one, g_camera. World space is Y up and the view
// is left-handed.
#pragma once

#include "video/d3d9/d3dx9.h"

// Degrees to radians.
constexpr double kDegreesToRadians = 0.017453292519943295;

struct Plane {
    float a, b, c, d;
};

struct CameraAngles {
    float yaw, pitch, roll;
};

class Camera {
public:
    Camera();

    // Turns the view up or down by delta degrees; a step that would pass
    // ±89 degrees is refused whole.
    void Pitch(float delta);
    // Turns the view about the world's up axis by delta degrees.
    void Yaw(float delta);
    // Pitch, then yaw, then rebuild view and frustum; remembers the position.
    void UpdateView(float yawDelta, float pitchDelta, float roll);
    // Back to the initial orientation, then UpdateView with the given angles.
    void ResetView(float yaw, float pitch, float roll);

    void SetPosition(const D3DXVECTOR3& point);
    const D3DXVECTOR3& GetPosition() const { return position_; }
    const D3DXVECTOR3& GetPreviousPosition() const { return previousPosition_; }
    CameraAngles GetAngles() const { return {yaw_, pitch_, roll_}; }

    void SetProjection(float fieldOfView, float zNear, float zFar, float width, float height);
    // The same projection for a window of a new size.
    void SetAspect(float width, float height);
    // False when the box lies wholly outside one of the six planes.
    bool BoxInFrustum(const D3DXVECTOR3& lo, const D3DXVECTOR3& hi) const;

    const D3DXMATRIX& View() const { return view_; }
    const D3DXMATRIX& Projection() const { return projection_; }
    const Plane& FrustumPlane(int index) const { return frustum_[index]; }

    const D3DXVECTOR3& Look() const { return look_; }
    const D3DXVECTOR3& Up() const { return up_; }
    const D3DXVECTOR3& Left() const { return left_; }
    const D3DXVECTOR3& LevelForward() const { return levelForward_; }
    D3DXVECTOR3& EyeOffset() { return eyeOffset_; }
    // Movement writes the position directly; the physics step reads both.
    D3DXVECTOR3& Position() { return position_; }

private:
    void RebuildView();
    void RebuildFrustum();

    D3DXVECTOR3 look_{0.0f, 0.0f, -1.0f};
    D3DXVECTOR3 up_{0.0f, 1.0f, 0.0f};
    D3DXVECTOR3 left_{1.0f, 0.0f, 0.0f};
    D3DXVECTOR3 levelForward_{0.0f, 0.0f, -1.0f};
    D3DXVECTOR3 eyeOffset_{0.0f, 0.0f, 0.0f};
    D3DXVECTOR3 position_{0.0f, 0.0f, 0.0f};
    D3DXVECTOR3 previousPosition_{0.0f, 0.0f, 0.0f};
    Plane frustum_[6] = {};
    float pitch_ = 0.0f;
    float yaw_ = 0.0f;
    float roll_ = 0.0f;
    D3DXMATRIX view_;
    D3DXMATRIX projection_;
    float fieldOfView_ = 1.5707964f;
    float zNear_ = 0.1f;
    float zFar_ = 10000000.0f;
};

extern Camera g_camera;
