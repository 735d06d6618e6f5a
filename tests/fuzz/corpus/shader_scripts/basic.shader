// comment
textures/base/wall
{
	qer_editorimage textures/base/wall.tga
	surfaceparm nomarks
	{
		map $lightmap
		rgbGen identity
	}
	{
		map textures/base/wall.jpg
		blendFunc GL_DST_COLOR GL_ZERO
	}
}

textures/skies/night
{
	surfaceparm sky
	surfaceparm noimpact
	skyparms env/night - -
	{
		animMap 2 textures/skies/a.tga textures/skies/b.tga
		blendFunc add
	}
}

textures\\fog\\thick
{
	fogparms ( 0.5 0.5 0.5 ) 200
	surfaceparm nodraw
	{
		clampmap $whiteimage
		blendfunc GL_ONE GL_ONE
	}
}
