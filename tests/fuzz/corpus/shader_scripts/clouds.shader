textures/skies/clouds
{
	qer_editorimage textures/skies/clouds.tga
	surfaceparm sky
	surfaceparm noimpact
	skyParms full 512 env/near
	{
		map textures/skies/clouds.tga
		tcMod scale 3 2
		tcMod scroll 0.05 -.03
		tcMod turb 0 .1 0 1
		rgbGen identityLighting
	}
	{
		clampMap textures/skies/layer.jpg
		blendFunc GL_ONE_MINUS_DST_COLOR GL_SRC_ALPHA
		rgbGen const ( 0.5 0.25 1 )
		alphaGen const 0.3
	}
	{
		animMap 1 textures/skies/a.tga textures/skies/b.tga
		blendfunc filter
		rgbGen const (1 0 0)
		tcmod scroll x
	}
}
textures/skies/plain
{
	skyparms - 1e39 -
}
